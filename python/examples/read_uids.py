"""Prints the UID of every card put on the reader, once per visit (Ctrl-C ends).

    python3 read_uids.py 3          # port 3, COM3 or a device path
"""
import logging
import sys
import time

import zelkor

port = sys.argv[1] if len(sys.argv) > 1 else "3"
last = None
# The library's trace goes to the log (shown with logging.basicConfig(level=logging.DEBUG)).
with zelkor.Reader(port, trace=logging.getLogger("zelkor.trace").debug) as reader:
    try:
        while True:
            try:
                card = reader.find_card()
            except (zelkor.NoCardError, zelkor.NoAnswerError):
                last = None
            else:
                if card.uid != last:
                    print(f"{time.strftime('%H:%M:%S')}  {card.type_name:10} {card.uid.hex().upper()}", flush=True)
                    last = card.uid
            time.sleep(0.3)
    except KeyboardInterrupt:
        pass
