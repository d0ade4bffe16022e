#!/usr/bin/env bash
# Rebuilds the dBASE fixtures of this folder with GDAL (Debian packages
# gdal-bin and python3-gdal), a dBASE writer independent of this program:
#   gdal_deleted_blank.dbf  six goods rows written by ogr2ogr from a CSV in code
#                           page 1251, rows with CODE 2 and 5 then deleted without
#                           packing (deleted flag "*"), blank numbers written by
#                           GDAL as fields full of "*".
#   gdal_goods_1251.dbf     a goods table as ogr2ogr writes it from a CSV with a
#   gdal_goods_1251.cpg     .csvt file: the ten goods fields, PRICE and COUNT as
#                           N with decimals, ISBLOCK as N(1) of 0 and 1, text in
#                           code page 1251 named by the .cpg file ("CP1251") and
#                           the code page mark 0 in the header.
#   gdal_goods_utf8.dbf     the same rows with the text in UTF-8 (.cpg "UTF-8"),
#   gdal_goods_utf8.cpg     NAME 64 bytes wide so that 32 letters fit.
# Usage: make_fixtures.sh [NAME...]  (default: every fixture)
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

deleted_blank() {
  cat >"$work/goods.csv" <<'CSV'
CODE,TYPE,NAME,NG,PRICE,SECTION,SHTRIH
1,170,Молоко «Домик в деревне»,1,25.50,1,4601234567890
2,165,Удалённая услуга,2,100,2,
3,,Хлеб ржаной,,,3,
4,160,"Тара, ящик",5,0.01,,123
5,170,Тоже удалена,0,1,1,
6,255,Ёлка № 6,,999999.99,99,000
CSV
  printf 'Integer(9),Integer(9),String(32),Integer(9),Real(12.2),Integer(9),String(20)\n' >"$work/goods.csvt"
  rm -f gdal_deleted_blank.dbf "$work/out.dbf"
  ogr2ogr -f "ESRI Shapefile" "$work/out.dbf" "$work/goods.csv" -lco ENCODING=CP1251
  /usr/bin/python3 - "$work/out.dbf" <<'PY'
import sys
from osgeo import gdal
ds = gdal.OpenEx(sys.argv[1], gdal.OF_UPDATE | gdal.OF_VECTOR, open_options=['AUTO_REPACK=NO'])
layer = ds.GetLayer(0)
for fid in (1, 4):  # CODE 2 and CODE 5
    assert layer.DeleteFeature(fid) == 0
ds = None
PY
  cp "$work/out.dbf" gdal_deleted_blank.dbf
}

# The goods rows of gdal_goods_*: every goods type, blank fields (GDAL writes
# a blank number as "*"), a barcode with leading zeros, a blocked row, a name
# of exactly 32 letters, the letters Ё and № of code page 1251.
goods_csv() {
  cat >"$work/goods.csv" <<'CSV'
CODE,TYPE,NAME,NG,PRICE,SECTION,VESOVOY,SHTRIH,ISBLOCK,COUNT
1,170,Молоко утф8,1,25.50,1,1,4601234567890,0,12.5
2,165,Доставка по городу,2,100,2,,,1,0
3,160,"Ящик, тара",5,0.01,,1,000123,0,
4,170,Ёлка № 4 «ель»,0,1999.99,4,2,,1,3.25
5,170,Сыр плавленый сливочный 45% 100г,3,89.9,3,1,2100000000005,0,1000
CSV
}

goods() {  # goods ENCODING NAME_WIDTH OUTPUT
  goods_csv
  printf 'Integer(9),Integer(9),String(%s),Integer(9),Real(12.2),Integer(9),Integer(9),String(20),Integer(1),Real(12.3)\n' \
    "$2" >"$work/goods.csvt"
  rm -f "$work"/out.* "$3".dbf "$3".cpg
  ogr2ogr -f "ESRI Shapefile" "$work/out.dbf" "$work/goods.csv" -lco ENCODING="$1"
  cp "$work/out.dbf" "$3.dbf"
  cp "$work/out.cpg" "$3.cpg"
}

names=("$@")
[ ${#names[@]} -eq 0 ] && names=(gdal_deleted_blank gdal_goods_1251 gdal_goods_utf8)
for name in "${names[@]}"; do
  case "$name" in
    gdal_deleted_blank) deleted_blank ;;
    gdal_goods_1251) goods CP1251 32 gdal_goods_1251 ;;
    gdal_goods_utf8) goods UTF-8 64 gdal_goods_utf8 ;;
    *) echo "unknown fixture $name" >&2; exit 2 ;;
  esac
done
