#!/bin/sh
# Checks that the Windows pack exports its records and registration functions under
# exactly the names a host looks up: no C++ mangling, no @N decorations.
set -eu
dll=${1:-build/mingw/lib/matpack.dll}

exports=$(i686-w64-mingw32-objdump -p "$dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')

status=0
for name in theUfn numFuncs DllRegisterServer DllUnregisterServer identifier_TOL string_TOL \
  TOLLIST ORIGINLIST BOTHLIST \
  string_rows string_cols string_identity string_last string_length string_max string_min \
  string_reverse string_submatrix string_tr string_augment string_stack string_matrix \
  string_cond1 string_cond2 string_conde string_condi string_cholesky string_eigenvals \
  string_eigenvecs string_eigenvec string_genvals string_genvecs string_geninv string_lsolve \
  string_lu string_norm1 string_norm2 string_norme string_normi string_qr string_rank \
  string_rref string_svd string_svds string_lookup string_hlookup string_vlookup string_match; do
  if ! printf '%s\n' "$exports" | grep -qx "$name"; then
    echo "$dll does not export $name" >&2
    status=1
  fi
done
# The numerical routines other host components call keep their C++ names: inv (value,
# matrix and message forms), cinv and clud; eigenvals and eigenvecs (value and matrix
# forms), eval and comeval.
for name in _Z3invP14UfnCallContextP6Anyval _Z3invP14UfnCallContextP7aMatrix \
  _Z3invP14UfnCallContextP7aMatrixPS2_b _Z4cinvP14UfnCallContextP7aMatrixPS2_b \
  _Z4cludP7aMatrixPdRdb \
  _Z9eigenvalsP14UfnCallContextP6AnyvalS2_ _Z9eigenvalsP14UfnCallContextP7aMatrixd \
  _Z9eigenvecsP14UfnCallContextP6Anyval _Z9eigenvecsP14UfnCallContextP7aMatrix \
  _Z4evalP14UfnCallContextP7aMatrixPS2_ _Z7comevalP14UfnCallContextP7aMatrixPS2_d; do
  if ! printf '%s\n' "$exports" | grep -qx "$name"; then
    echo "$dll does not export $name" >&2
    status=1
  fi
done
if printf '%s\n' "$exports" | grep -q '@'; then
  echo "$dll exports decorated names:" >&2
  printf '%s\n' "$exports" | grep '@' >&2
  status=1
fi
[ $status -eq 0 ] && echo "$dll exports every record under its plain name"
exit $status
