#!/usr/bin/env bash
# Exchanges databases between larkconv and independent PDB software from
# Debian: the Perl modules Palm::PDB and Palm::Memo, and txt2pdbdoc; and shows
# the same databases with larkinfo, which must agree with what Palm::PDB reads.
# Usage: interop_test.sh PATH/TO/larkconv [PATH/TO/larkinfo]
# (larkinfo defaults to the one beside larkconv)
set -euo pipefail

larkconv=$(realpath "$1")
larkinfo=$(realpath "${2:-$(dirname "$1")/larkinfo}")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

passed=0
failed=0
# check NAME EXPECTED-FILE ACTUAL-FILE
check() {
  if diff -u "$2" "$3"; then
    echo "ok: $1"
    passed=$((passed + 1))
  else
    echo "FAIL: $1"
    failed=$((failed + 1))
  fi
}
dump() { perl "$here/dump_pdb.pl" "$@"; }

# 1. A memo database written by Palm::Memo, AppInfo block and all, to CSV.
perl "$here/make_memo.pl" memo.pdb
"$larkconv" -pdb sz memo.pdb memo.csv
cat > expected.csv <<'CSV'
"Call the printer about the brochure"
"Gift ideas: book, scarf, ""good"" pen"
"Well begun, half done"
CSV
check "memo database to CSV" expected.csv memo.csv

# 2. Rows appended to it: the header, AppInfo block and the records already
#    there (categories, flags, unique IDs) survive, as Palm::PDB reads them.
dump memo.pdb > before.txt
dump -memo memo.pdb > before-memo.txt
printf '"Appended, with a comma"\n"Second ""quoted"" one"\n' > more.csv
"$larkconv" -csv -a sz more.csv memo.pdb
dump memo.pdb > after.txt
{
  sed 's/^records: 3$/records: 5/' before.txt
  echo "record: category=0 attributes= id=0 data=$(printf 'Appended, with a comma\0' | od -An -tx1 | tr -d ' \n')"
  echo "record: category=0 attributes= id=0 data=$(printf 'Second "quoted" one\0' | od -An -tx1 | tr -d ' \n')"
} > expected.txt
check "memo database after -csv -a (raw)" expected.txt after.txt
dump -memo memo.pdb > after-memo.txt
{
  sed 's/^records: 3$/records: 5/' before-memo.txt
  echo 'record: category=0 attributes= id=0 data=Appended, with a comma'
  echo 'record: category=0 attributes= id=0 data=Second "quoted" one'
} > expected.txt
check "memo database after -csv -a (Palm::Memo)" expected.txt after-memo.txt

# 3. A database larkconv writes, as Palm::PDB opens it.
printf '1,ab\n"-2","xy,z"\n"65535","Tab\there"\n' > new.csv
"$larkconv" -csv -n "Interop Test" -t Intr -c LkCv wsz new.csv new.pdb
cat > expected.txt <<'TXT'
name: Interop Test
type: Intr
creator: LkCv
attributes:
version: 0
appinfo: none
sortinfo: none
records: 3
record: category=0 attributes= id=0 data=0001616200
record: category=0 attributes= id=0 data=fffe78792c7a00
record: category=0 attributes= id=0 data=ffff546162096865726500
TXT
dump new.pdb > new.txt
check "larkconv database in Palm::PDB" expected.txt new.txt

# 4. Doc databases from txt2pdbdoc: the header record by its layout, the text
#    records byte by byte, and a copy made through CSV that txt2pdbdoc decodes.
for i in $(seq 1 300); do echo "line $i of the story, with some words: palm, doc, sync"; done > story.txt
size=$(wc -c < story.txt)
txt2pdbdoc -c "Interop Story" story.txt story.pdb
txt2pdbdoc "Interop Story" story.txt storyz.pdb
"$larkconv" -pdb -r0 wwiwwi story.pdb head.csv
"$larkconv" -pdb -a -r0 wwiwwi storyz.pdb head.csv
records=$(( (size + 4095) / 4096 ))
printf '"1","0","%d","%d","4096","0"\n"2","0","%d","%d","4096","0"\n' \
  "$size" "$records" "$size" "$records" > expected.csv
check "Doc header records" expected.csv head.csv
"$larkconv" -pdb -r1- '(b)' story.pdb text.csv
perl -ne 'binmode STDOUT; print map { chr } /"(\d+)"/g' text.csv > text.out
check "Doc text records byte by byte" story.txt text.out
"$larkconv" -pdb '(b)' storyz.pdb all.csv
"$larkconv" -csv -n "Interop Story" -t TEXt -c REAd '(b)' all.csv copy.pdb
dump storyz.pdb | grep '^record' | sed 's/ attributes=.* data=/ data=/' > expected.txt
dump copy.pdb | grep '^record' | sed 's/ attributes=.* data=/ data=/' > copy.txt
check "Doc copied through CSV, records" expected.txt copy.txt
txt2pdbdoc -d copy.pdb copy.txt
check "Doc copied through CSV, decoded by txt2pdbdoc" story.txt copy.txt

# 5. Memos whose texts hold line feeds go to CSV and back as the same three
#    records (a CR right before a line feed is the one byte a text loses).
perl "$here/make_memo.pl" lines.pdb multiline
"$larkconv" -pdb sz lines.pdb lines.csv
"$larkconv" -csv -c memo sz lines.csv lines-back.pdb
dump lines.pdb | grep '^record:' | sed 's/^.* data=//; s/0d0a/0a/g' > expected.txt
dump lines-back.pdb | grep '^record:' | sed 's/^.* data=//' > back.txt
check "multi-line memos through CSV and back" expected.txt back.txt
"$larkconv" -csv -a -r1-1 sz lines.csv lines.pdb
dump lines.pdb | grep -c '^record:' > count.txt
echo 4 > expected.txt
check "multi-line memo rows counted as rows by -r" expected.txt count.txt

# 6. larkinfo on a fresh memo database: header, dates, AppInfo size and every
#    record's category, unique ID and length as Palm::PDB reads them.
perl "$here/make_memo.pl" fresh.pdb
info_value() { "$larkinfo" "$2" | grep "^$1 " | cut -c17-; }
{
  dump fresh.pdb | grep -E '^(name|type|creator|version):'
  perl -MPalm::PDB -MPalm::Raw -MPOSIX=strftime -e '$p = Palm::PDB->new; $p->Load($ARGV[0]);
    print strftime("created: %Y-%m-%d %H:%M:%S\n", gmtime($p->{ctime}));' fresh.pdb
  echo "appinfo size: $(( $(dump fresh.pdb | sed -n 's/^appinfo: //p' | tr -d '\n' | wc -c) / 2 ))"
  dump fresh.pdb | sed -n 's/^record: category=\([0-9]*\) .* id=\([0-9]*\) data=\(.*\)/\1 \2 \3/p' |
    while read -r category id data; do echo "record: $category $id $(( ${#data} / 2 ))"; done
} > expected.txt
{
  for key in name type creator version; do echo "$key: $(info_value $key fresh.pdb)"; done
  echo "created: $(info_value created fresh.pdb)"
  echo "appinfo size: $(info_value appinfo fresh.pdb | awk '{ print $4 }')"
  "$larkinfo" -l fresh.pdb | awk '$1 ~ /^[0-9]+$/ { print "record: " $5 " " $6 " " $3 }'
} > info.txt
check "larkinfo header and records agree with Palm::PDB" expected.txt info.txt

# 7. larkinfo -f on txt2pdbdoc's Doc databases: the header record's layout
#    fits both, and so does one that goes on past its bytes (the record
#    comes back), a shorter one does not, and the text shows in the dump.
results=""
for args in "-r0 -f wwiwwi story.pdb" "-r0 -f wwiwwi storyz.pdb" "-r1- -f (b) story.pdb" \
  "-r0 -f wwiww storyz.pdb" "-r0 -f wwiwwiw storyz.pdb"; do
  status=0
  "$larkinfo" $args > /dev/null || status=$?
  results+="$args: $status"$'\n'
done
printf '%s' "$results" > info.txt
printf '%s\n' "-r0 -f wwiwwi story.pdb: 0" "-r0 -f wwiwwi storyz.pdb: 0" "-r1- -f (b) story.pdb: 0" \
  "-r0 -f wwiww storyz.pdb: 2" "-r0 -f wwiwwiw storyz.pdb: 0" > expected.txt
check "larkinfo -f on Doc databases" expected.txt info.txt
"$larkinfo" -x -r1 story.pdb | sed -n 2p | cut -d'|' -f2 > info.txt
head -c 16 story.txt > expected.txt && echo >> expected.txt
check "larkinfo -x shows Doc text" expected.txt info.txt

# 8. Memos with accented text in code page 1252 go to a UTF-8 CSV file (with
#    its byte order mark) through -e cp1252, and back to the same bytes.
perl "$here/make_memo.pl" accents.pdb accented
"$larkconv" -pdb -e cp1252 sz accents.pdb accents.csv
{
  printf '\xef\xbb\xbf"Caf\xc3\xa9 cr\xc3\xa8me br\xc3\xbbl\xc3\xa9e, \xe2\x82\xac 4,50"\n'
  printf '"Gr\xc3\xbc\xc3\x9fe aus K\xc3\xb6ln\n\xe2\x80\x9cSe\xc3\xb1or\xe2\x80\x9d \xe2\x80\xa6 na\xc3\xafve \xc2\xa9"\n'
  printf '"\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d unassigned, ""quoted"""\n'
} > expected.csv
check "accented memos to UTF-8 CSV (-e cp1252)" expected.csv accents.csv
"$larkconv" -csv -c memo -e cp1252 sz accents.csv accents-back.pdb
dump accents.pdb | grep '^record:' | sed 's/^.* data=//' > expected.txt
dump accents-back.pdb | grep '^record:' | sed 's/^.* data=//' > back.txt
check "accented memos back through -e cp1252" expected.txt back.txt

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
