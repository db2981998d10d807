"""Adds an amount to the wallet in a block of the card on the reader.

    python3 top_up.py PORT BLOCK AMOUNT KEY      e.g. top_up.py 3 5 250 5A3C96E10F7B
"""
import logging
import sys

import zelkor

if len(sys.argv) != 5:
    sys.exit(__doc__)
port, block, amount, key = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), bytes.fromhex(sys.argv[4])
try:
    # The library's trace goes to the log instead of the screen.
    with zelkor.Reader(port, trace=logging.getLogger("zelkor.trace").debug) as reader:
        card = reader.find_card()
        before = reader.read_wallet(block, key=key)
        reader.add_to_wallet(block, amount)
        after = reader.read_wallet(block)
except zelkor.ReaderError as error:
    sys.exit(f"top-up failed: {error}")
print(f"card {card.uid.hex().upper()}: {before} + {amount} = {after}")
if after != before + amount:
    sys.exit("the wallet does not hold the expected amount: check the card")
