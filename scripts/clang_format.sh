# Sourced by format.sh and check_format.sh: the clang-format whose output is the repository's style.
# Another major version formats differently, so the check would fail on files that are formatted.
clang_format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$clang_format" ] || ! "$clang_format" --version | grep -q 'version 14\.'; then
  echo "clang-format 14 is missing: run scripts/setup.sh" >&2
  exit 1
fi
