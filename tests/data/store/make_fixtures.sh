#!/usr/bin/env bash
# Rebuilds the dBASE fixtures of this folder with GDAL (Debian packages
# gdal-bin and python3-gdal), a dBASE writer independent of this program:
#   gdal_deleted_blank.dbf  six goods rows written by ogr2ogr from a CSV in code
#                           page 1251, rows with CODE 2 and 5 then deleted without
#                           packing (deleted flag "*"), blank numbers written by
#                           GDAL as fields full of "*".
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
rm -f gdal_deleted_blank.dbf
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
