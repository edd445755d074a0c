#!/usr/bin/env bash
# Installs what is missing, builds MirsalEX, creates a demo installation in
# ./demo (a desktop side, a portable side and the exchange area between them)
# and runs transfers on it: the portable side sends its data to the exchange
# area, the desktop side merges it and sends its own, and the portable side
# takes that back. Finally it opens the window on the desktop side under a
# virtual display and saves a screenshot to demo/screenshot.png.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DEMO="${DEMO_DIR:-$ROOT/demo}"
"$ROOT/scripts/setup.sh"
BUILD_TYPE=Release "$ROOT/scripts/build.sh" "$ROOT/build" -DMIRSALEX_BUILD_TESTS=OFF -DMIRSALEX_BUILD_BENCH=OFF
BIN="$ROOT/build/src"

rm -rf "$DEMO"
"$BIN/mirsalex-fixture" --out "$DEMO" --operators 2 --documents 12 --clients 40 --seed 2026

clients() { sqlite3 "$1" "select count(*) from Clienti" 2>/dev/null || echo "?"; }
rows() { sqlite3 "$1" "select count(*) from $2" 2>/dev/null || echo "?"; }
marked() { sqlite3 "$1" "select count(*) from $2 where $3 = 'S'" 2>/dev/null || echo "?"; }
show_counts() {
  echo "   clients: portable $(clients "$DEMO/portable/dati/P001/DatiDV.mdb")," \
       "exchange $(clients "$DEMO/exchange/P001/DatiDV.mdb")," \
       "desktop $(clients "$DEMO/desktop/dati/P001/DatiDV.mdb")"
  local p="$DEMO/portable/dati/P001/VisiteDV.mdb" x="$DEMO/exchange/P001/VisiteDV.mdb" d="$DEMO/desktop/dati/P001/VisiteDV.mdb"
  echo "   visits:  portable $(rows "$p" VisiteN), exchange $(rows "$x" VisiteN), desktop $(rows "$d" VisiteN)"
  echo "   appointments (marked for deletion):" \
       "portable $(rows "$p" Appuntamenti) ($(marked "$p" Appuntamenti ApDelete))," \
       "exchange $(rows "$x" Appuntamenti) ($(marked "$x" Appuntamenti ApDelete))," \
       "desktop $(rows "$d" Appuntamenti) ($(marked "$d" Appuntamenti ApDelete))"
  echo "   actions (marked for deletion):" \
       "portable $(rows "$p" Azioni) ($(marked "$p" Azioni AzDelete))," \
       "exchange $(rows "$x" Azioni) ($(marked "$x" Azioni AzDelete))," \
       "desktop $(rows "$d" Azioni) ($(marked "$d" Azioni AzDelete))"
  echo "   action codes: portable $(rows "$p" TabAzioni), exchange $(rows "$x" TabAzioni), desktop $(rows "$d" TabAzioni)"
  echo "   cards:   portable $(ls "$DEMO/portable/dati/testi/P001" | wc -l)," \
       "exchange $(ls "$DEMO/exchange/P001/SCHEDE" | wc -l)," \
       "desktop $(ls "$DEMO/desktop/dati/testi/P001" | wc -l)"
}

echo
echo "== What the program sees on the portable side"
"$BIN/mirsalex" --show-config --ini "$DEMO/portable/mirsalex.ini"
echo
echo "== Before any transfer (operator P001)"
show_counts

run() {
  echo
  echo "== $1"
  shift
  set +e
  "$BIN/mirsalex" --batch "$@" --yes </dev/null
  echo "   exit status $?"
  set -e
  show_counts
}
run "Portable side: send to the exchange area" --ini "$DEMO/portable/mirsalex.ini" --side portable
run "Desktop side: merge and send back" --ini "$DEMO/desktop/mirsalex.ini" --side desktop
run "Portable side again: take the desktop's data" --ini "$DEMO/portable/mirsalex.ini" --side portable

echo
echo "== The window (desktop side) under a virtual display"
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
    "$0/mirsalex" --ini "$1/desktop/mirsalex.ini" & pid=$!
    sleep 3
    import -window root "$1/screenshot.png" 2>/dev/null && convert "$1/screenshot.png" -trim +repage "$1/screenshot.png" 2>/dev/null || true
    kill $pid 2>/dev/null; wait $pid 2>/dev/null || true' "$BIN" "$DEMO"
  [[ -f "$DEMO/screenshot.png" ]] && echo "   screenshot saved to $DEMO/screenshot.png"
fi
