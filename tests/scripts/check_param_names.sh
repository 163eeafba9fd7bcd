#!/usr/bin/env bash
# check_param_names.sh BUILD_DIR PROGRAM...: checks that every parameterised test case has
# a name and a printed parameter that read as words and are the same from run to run.
# Without a printer gtest shows a struct as its bytes ("40-byte object <80-25 ...>"),
# padding included, which differ between runs; and CTest must name each case by its
# generated name alone, without gtest's "# GetParam() = ..." comment.
set -euo pipefail
build=$1
shift
fail=0
for program in "$@"; do
    first="$("$program" --gtest_list_tests)"
    second="$("$program" --gtest_list_tests)"
    if grep -n 'byte object' <<<"$first"; then
        echo "${program##*/}: a parameter printed as raw bytes (give its type a PrintTo)"
        fail=1
    fi
    [ "$first" = "$second" ] || { echo "${program##*/}: the case list changed between two runs"; fail=1; }
    echo "${program##*/}: $(grep -c 'GetParam() = ' <<<"$first" || true) parameterised cases listed"
done
names="$(ctest --test-dir "$build" -N)"
if grep -E 'GetParam|byte object' <<<"$names"; then
    echo "CTest names a case with its parameter's comment (gtest_discover_tests needs NO_PRETTY_VALUES)"
    fail=1
fi
echo "CTest names $(grep -c '^ *Test *#' <<<"$names" || true) tests, none with a parameter's comment"
exit $fail
