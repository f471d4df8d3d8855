"""Checks that every source folder includes only from itself and the layers before it."""
import pathlib
import re
import sys

LAYERS = ["framework", "install", "shell", "driver", "controls", "wizard", "app"]

root = pathlib.Path(__file__).resolve().parent.parent
faults = []
for rank, layer in enumerate(LAYERS):
    for source in sorted((root / layer).glob("*.[ch]*")):
        for number, line in enumerate(source.read_text(encoding="utf-8").splitlines(), 1):
            match = re.match(r'\s*#\s*include\s+"([^/"]+)/', line)
            if match and match.group(1) in LAYERS and LAYERS.index(match.group(1)) > rank:
                faults.append(f"{source.relative_to(root)}:{number}: {layer}/ includes {match.group(1)}/")
print("\n".join(faults) or f"layers: {' < '.join(LAYERS)}")
sys.exit(1 if faults else 0)
