#!/usr/bin/env bash
# Builds a one-file project through vek_build of scripts/trees.sh and checks where the
# compiler's output goes: build.log keeps the last build that compiled something, with its
# warnings, through a build with nothing to do (whose lines go to build-last.log); a failed
# build's output replaces it and its end is shown; the last line counts the warnings.
set -euo pipefail
root="$1"
. "$(dirname "$0")/common.sh"
mkdir "$work/src"
cat >"$work/src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(one LANGUAGES CXX)
add_compile_options(-Wall)
add_executable(one main.cpp)
CMAKE
echo 'int main() { int unused = 0; return 0; }' >"$work/src/main.cpp"
cmake -S "$work/src" -B "$work/build" -G Ninja >/dev/null
build() {
    (. "$root/scripts/trees.sh" && VEK_JOBS=1 vek_build "$work/build" "the one-file project") 2>"$work/said"
}

build || fail "the first build failed: $(cat "$work/said")"
grep -q "warning: unused variable" "$work/build/build.log" || fail "build.log lacks the warning"
[ ! -e "$work/build/build-last.log" ] || fail "a build that compiled left build-last.log"
tail -n 1 "$work/said" | grep -q 'built in [0-9]* s, with 1 compiler warning(s): see .*/build.log$' ||
    fail "the last line does not count the warning: $(tail -n 1 "$work/said")"
cp "$work/build/build.log" "$work/first.log"

build || fail "the build with nothing to do failed: $(cat "$work/said")"
cmp -s "$work/first.log" "$work/build/build.log" || fail "a build with nothing to do changed build.log"
grep -qx 'ninja: no work to do.' "$work/build/build-last.log" || fail "build-last.log lacks ninja's own words"
tail -n 1 "$work/said" | grep -q 'up to date, nothing to build$' || fail "no-op says: $(tail -n 1 "$work/said")"

echo 'int main() { return missing; }' >"$work/src/main.cpp"
if build; then fail "a build with an error passed"; fi
grep -q "error: .missing. was not declared" "$work/build/build.log" || fail "build.log lacks the error"
[ ! -e "$work/build/build-last.log" ] || fail "a failed build left build-last.log"
grep -q 'the build failed; the end of .*/build.log:' "$work/said" || fail "the failure is not announced"
grep -q "error: .missing. was not declared" "$work/said" || fail "the error is not shown"

echo 'int main() { return 0; }' >"$work/src/main.cpp"
build || fail "the clean build failed: $(cat "$work/said")"
if grep -q 'warning: \|error: ' "$work/build/build.log"; then fail "build.log keeps an older build's output"; fi
tail -n 1 "$work/said" | grep -q 'built in [0-9]* s$' || fail "a clean build says: $(tail -n 1 "$work/said")"
echo "build.log kept through a no-op build, replaced by a failed and a clean one"
