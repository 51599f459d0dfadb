#!/usr/bin/env bash
# Makes the README pictures docs/images/love_plot.png (the standardized-difference plot) and
# docs/images/balance_table.png (the StdDiff table as the HTML report shows it) from
# examples/paper.vlc. Needs a release build (bash scripts/build.sh release), chromium and
# rsvg-convert; it installs nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in chromium rsvg-convert python3; do
  command -v "$tool" > /dev/null || { echo "screenshots.sh needs $tool" >&2; exit 1; }
done
[ -x build/velloc ] || { echo "build velloc first: bash scripts/build.sh release" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/velloc --log "$work/run.log" --html "$work/report.html" --graphs-dir "$work/graphs" \
  examples/paper.vlc > /dev/null
mkdir -p docs/images

# The love plot: the figure's own SVG, rasterised at 1.5 times its size on white.
love=$(find "$work/graphs" -name '*_StdDiffPlot*.svg' | sort | head -n 1)
rsvg-convert -b white -z 1.5 -o docs/images/love_plot.png "$love"

# The balance table: the report's StdDiff table alone on a page with the report's style. A first
# headless pass measures it (the page puts its size in the title), the second shoots it.
python3 - "$work/report.html" "$work/table.html" << 'PY'
import re, sys
html = open(sys.argv[1], encoding="utf-8").read()
style = re.search(r"<style>(.*?)</style>", html, re.S).group(1)
tables = re.findall(r'<table class="data".*?</table>', html, re.S)
table = next(t for t in tables if "<caption>Standardized Mean Differences" in t)
page = f"""<!DOCTYPE html><html><head><meta charset="utf-8"><style>{style}
body {{ margin: 0; padding: 12px; background: white; }} table {{ margin: 0; }}</style></head>
<body><div id="box" style="display: inline-block">{table}</div><script>
const r = document.getElementById("box").getBoundingClientRect();
document.title = Math.ceil(r.width + 24) + "x" + Math.ceil(r.height + 24);
</script></body></html>"""
open(sys.argv[2], "w", encoding="utf-8").write(page)
PY
shot() { chromium --headless --no-sandbox --disable-gpu --hide-scrollbars \
  --force-device-scale-factor=1 "$@" 2> /dev/null; }
size=$(shot --window-size=2000,4000 --dump-dom "file://$work/table.html" | sed -n 's:.*<title>\([0-9]*x[0-9]*\)</title>.*:\1:p')
[ -n "$size" ] || { echo "could not measure the table" >&2; exit 1; }
shot --window-size="${size/x/,}" --screenshot="$work/table.png" "file://$work/table.html" > /dev/null
cp "$work/table.png" docs/images/balance_table.png
ls -l docs/images/love_plot.png docs/images/balance_table.png
