#!/usr/bin/env bash
# Regenerates every sound clip, the picture and the icons under data/ from the
# words in assets/texts.tsv and the recipes in assets/tools/.
#
#   assets/generate.sh           write the files into data/
#   assets/generate.sh --check   regenerate into a scratch folder and fail if
#                                anything differs from the committed data/
#
# VQ_KEEP=1 keeps the scratch folder (Festival's raw output and timings) for
# a look at what the synthesiser made.
#
# Speech comes from Festival's HTS voice; every other sound and the pictures
# are drawn by the programs in assets/tools/. All steps are deterministic, so
# a regeneration on an unchanged tree leaves data/ byte for byte as it was.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
mode=write
case "${1:-}" in
  "") ;;
  --check) mode=check ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

# Speech target (LUFS); every spoken clip is brought to it.
speech_lufs=-18

install_missing() {
  local wanted missing=() pkg
  mapfile -t wanted < <(grep -vE '^\s*(#|$)' "$root/scripts/asset-packages.txt")
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

install_missing

work=$(mktemp -d)
trap '[ -n "${VQ_KEEP:-}" ] || rm -rf "$work"' EXIT
if [ "$mode" = check ]; then out="$work/data"; else out="$root/data"; fi
mkdir -p "$out"/{menu,game,level1,learn,score,TestSpk}

# --- tools ------------------------------------------------------------------
cxx=(g++ -std=c++20 -O2 -Wall -Wextra -I"$root/src")
"${cxx[@]}" -o "$work/vqlevel" "$here/tools/vqlevel.cpp" $(pkg-config --cflags --libs libebur128)
"${cxx[@]}" -o "$work/vqsynth" "$here/tools/vqsynth.cpp"
"${cxx[@]}" -o "$work/vqpicture" "$here/tools/vqpicture.cpp"

# --- speech -----------------------------------------------------------------
# Each table line becomes one Festival utterance. The words between brackets
# are located by the synthesiser's own timing (first to last token), and only
# that stretch is kept.
mkdir -p "$work/speech"
awk -F '\t' -v dir="$work/speech/" '
  BEGIN {
    print "(voice_cmu_us_slt_arctic_hts)"
    # A tenth faster than the voice speaks by default: players hear these
    # prompts over and over, and a brisk pace wastes less of their time.
    print "(set! hts_engine_params (append hts_engine_params (list (list \"-r\" 1.1))))"
    print "(define (vq-token-start tok)"
    print "  (item.feat (item.daughter1 tok) \"R:Word.R:SylStructure.daughter1.daughter1.R:Segment.p.end\"))"
    print "(define (vq-roots i) (if i (cons i (vq-roots (item.next i))) nil))"
    print "(define (vq-max l)"
    print "  (if (cdr l) (let ((m (vq-max (cdr l)))) (if (> (car l) m) (car l) m)) (car l)))"
    # A cut between two words falls where the synthesiser puts the segment
    # boundary, but the sound of a vowel runs on for tens of milliseconds into
    # a following stop consonant. So each cut also names how far it may move:
    # into the closure of a stop that opens the first word, and into the
    # closure or pause after the last, where the leveller finds the quiet.
    print "(define (vq-stop-or-pause name)"
    print "  (member_string name (list \"p\" \"t\" \"k\" \"b\" \"d\" \"g\" \"pau\")))"
    print "(define (vq-open-limit tok)"
    print "  (let ((first \"R:Word.R:SylStructure.daughter1.daughter1.R:Segment\"))"
    print "    (if (vq-stop-or-pause (item.feat (item.daughter1 tok) (string-append first \".name\")))"
    print "        (item.feat (item.daughter1 tok) (string-append first \".end\"))"
    print "        (vq-token-start tok))))"
    print "(define (vq-segment-at utt time)"
    print "  (let ((s (utt.relation.first utt (quote Segment))))"
    print "    (while (and s (< (item.feat s \"end\") (+ time 0.0005))) (set! s (item.next s)))"
    print "    s))"
    # A stop that ends a word is released after its segment, as the next
    # sound begins; before anything but another stop or a pause, the word
    # keeps that release.
    print "(define (vq-word-end utt tok)"
    print "  (let ((end (vq-max (mapcar (lambda (w) (item.feat w \"R:Word.word_end\")) (item.daughters tok)))))"
    print "    (let ((last (vq-segment-at utt (- end 0.001))) (next (vq-segment-at utt end)))"
    print "      (if (and last next (vq-stop-or-pause (item.name last)) (not (vq-stop-or-pause (item.name next))))"
    print "          (+ end 0.02)"
    print "          end))))"
    print "(define (vq-close-limit utt tok)"
    print "  (let ((end (vq-word-end utt tok)))"
    print "    (let ((next (vq-segment-at utt end)))"
    print "      (if (and next (vq-stop-or-pause (item.name next))) (item.feat next \"end\") end))))"
    # Utterance does not evaluate its arguments, hence the eval below.
    print "(define (vq-clip file text first last)"
    print "  (let ((utt (utt.synth (eval (list (quote Utterance) (quote Text) text)))))"
    print "    (let ((toks (vq-roots (utt.relation.first utt (quote Token)))))"
    print "      (utt.save.wave utt file (quote riff))"
    print "      (format t \"%s\\t%d\" file (length toks))"
    print "      (if (>= first 0)"
    print "          (format t \"\\t%f\\t%f\\t%f\\t%f\" (vq-token-start (nth first toks)) (vq-word-end utt (nth last toks))"
    print "                  (vq-open-limit (nth first toks)) (vq-close-limit utt (nth last toks))))"
    print "      (format t \"\\n\"))))"
  }
  /^#/ || NF < 2 { next }
  /["\\]/ { print "quotes and backslashes cannot be spoken: " $1 > "/dev/stderr"; exit 1 }
  {
    n = split($2, tok, /[ ]+/); first = -1; last = -1; text = ""
    for (i = 1; i <= n; i++) {
      if (index(tok[i], "[")) first = i - 1
      if (index(tok[i], "]")) last = i - 1
      gsub(/[][]/, "", tok[i]); text = text (i > 1 ? " " : "") tok[i]
    }
    if ((first < 0) != (last < 0) || first > last) { print "bad brackets: " $1 > "/dev/stderr"; exit 1 }
    name = $1; gsub("/", "__", name)
    printf "(vq-clip \"%s%s.wav\" \"%s\" %d %d)\n", dir, name, text, first, last
    print $1 "\t" n > (dir "words.tsv")
  }' "$here/texts.tsv" > "$work/speech.scm"
festival -b "$work/speech.scm" > "$work/speech/times.tsv"

while IFS=$'\t' read -r clip ntok; do
  file="$work/speech/${clip//\//__}.wav"
  IFS=$'\t' read -r said got from to open close < <(grep -F "$file"$'\t' "$work/speech/times.tsv")
  if [ "$got" != "$ntok" ]; then
    echo "$clip: the synthesiser read $got words where the table has $ntok" >&2
    exit 1
  fi
  sox "$file" -e floating-point -b 32 "$work/speech/48k.wav" rate -v 48000
  cut=()
  [ -n "${from:-}" ] && cut=(--cut "$from" "$to" --settle "$open" "$close")
  "$work/vqlevel" --target "$speech_lufs" "${cut[@]}" "$work/speech/48k.wav" "$out/$clip.vgz"
done < "$work/speech/words.tsv"

# --- other sounds -------------------------------------------------------------
# clip, recipe, loudness (LUFS), extra leveller options.
# The cat is played up to 26 dB down when far away, so it starts louder than
# speech; the loops sit about 20 LU under speech so that neither speech nor
# the cat's call is masked.
while read -r clip recipe lufs opts; do
  "$work/vqsynth" "$recipe" "$work/$recipe.wav"
  # shellcheck disable=SC2086
  "$work/vqlevel" --target "$lufs" $opts "$work/$recipe.wav" "$out/$clip.vgz"
done <<'LIST'
level1/cat     meow     -15
level1/dog     bark     -17
level1/search  step     -21 --tail 10
level1/vict    jingle   -18 --tail 200
menu/bgrn      menuloop -38 --loop
level1/bgrn    fieldloop -40 --loop
LIST

# --- picture and icons, best-score file ----------------------------------------
"$work/vqpicture" "$out"
: > "$out/best.dat"

if [ "$mode" = check ]; then
  if diff -r "$root/data" "$out"; then
    echo "assets: regeneration matches data/"
  else
    echo "assets: data/ differs from what the generator makes" >&2
    exit 1
  fi
else
  echo "assets: data/ regenerated"
fi
