"""Dumps the whole card on the reader into a JSON file with the zelkor program.

    python3 dump_json.py PORT OUTPUT.json [DICTIONARY ...]
"""
import json
import sys

import zelkor
from zelkor import cli

if len(sys.argv) < 3:
    sys.exit(__doc__)
port, output, dictionaries = sys.argv[1], sys.argv[2], sys.argv[3:]
try:
    summary = cli.dump(port, output, dictionaries)
except zelkor.ReaderError as error:
    partial = getattr(error, "result", None)
    sys.exit(f"dump incomplete: {error}" + (f"\n{json.dumps(partial)}" if partial else ""))
except zelkor.UsageError as error:
    sys.exit(str(error))
print(f"{summary['card']} {summary['uid']}: {summary['blocks_read']} of {summary['blocks']} blocks in {output}")
