#!/usr/bin/env bash
# Folders that arrive are listed, not handed to the scanner. Wine's own
# xcopy /E /I copies a tree of 60 files in three levels (some .txt and .jpg,
# three EICAR test files deep inside) into a listed profile folder and into
# a folder of the program-data tree; then a tree is moved in whole by a
# Wine process (one record for all of it). The stub scanner records every
# call: it must never be given a folder, each eligible file must be given
# once, whole, no excluded file ever, and each detection must be recorded
# under the infected file's own path.
set -u
source "$(dirname "$0")/../../scripts/lib/e2e.sh"
start_wine_monitor --list Downloads

# The trees, made outside the watched roots. Each file has a size of its
# own; an EICAR test file is the bare test string.
mkdir -p "$c/staging"
python3 - "$c/staging" "$EICAR_STRING" <<'EOF'
import os, sys
eicar = sys.argv[2].encode()
def tree(top, levels, infected):
    for depth, level in enumerate(levels):
        folder = os.path.join(top, *level)
        os.makedirs(folder, exist_ok=True)
        for i in range(20):
            ext = 'txt' if i < 3 else 'jpg' if i < 6 else 'exe'
            name = 'f%d-%02d.%s' % (depth, i, ext)
            data = os.urandom(4096 + 97 * i + 1000 * depth)
            if depth == len(levels) - 1 and 6 <= i < 6 + infected:
                name = 'evil%d.exe' % (i - 5)
                data = eicar
            with open(os.path.join(folder, name), 'wb') as f:
                f.write(data)
tree(os.path.join(sys.argv[1], 'tree'), [[], ['l1'], ['l1', 'l2']], 3)
tree(os.path.join(sys.argv[1], 'mtree'), [[], ['deep']], 1)
EOF

# "<relative path> <size>" of each eligible file of each staged tree, taken
# before it is moved.
for tree in tree mtree; do
    (cd "$c/staging/$tree" && find . -type f -name '*.exe' -printf '%P %s\n') | tr '/' '\\' \
        >"$c/staging/$tree.eligible"
done
eligible_of() {
    cat "$c/staging/$1.eligible"
}

# Every eligible file of staged tree $1, now below Windows folder $2, is
# scanned once, at its whole size; each infected one reached the vault
# and its detection names its own path.
check_tree() {
    local tree="$1" to="$2" rel size path records n
    while read -r rel size; do
        await_scan "$to\\$rel"
    done < <(eligible_of "$tree")
    sleep 1 # room for a second scan of any of them
    while read -r rel size; do
        path="$to\\$rel"
        records="$(scan_records_of "$path")"
        assert_eq 1 "$(grep -c . <<<"$records")" "scans of $path"
        assert_eq "$size" "$(cut -d' ' -f3 <<<"$records")" "size of $path when it was scanned"
        if [[ "$rel" == *evil* ]]; then
            [[ -e "$(unix_path_of "$to")/${rel//\\//}" ]] && fail "$path is still where it arrived"
            n=$(grep -cF "found a threat in \"$path\" and moved it" "$logs/SuccessScanLogs.txt")
            assert_eq 1 "$n" "detection entries naming $path"
        fi
    done < <(eligible_of "$tree")
}

# Nothing the filters exclude, and no folder, ever reaches the scanner.
check_calls() {
    assert_eq 0 "$(stub_calls started | awk '$3 == "dir"' | wc -l)" "calls given a folder"
    assert_eq 0 "$(stub_calls started | grep -cE '\.(txt|jpg)"$')" "excluded files handed over"
    assert_eq 0 "$(grep -cvE 'found a threat in "[^"]*\\evil[0-9]\.exe"' <(grep 'found a threat' \
        "$logs/SuccessScanLogs.txt"))" "detections that name no infected file"
}

new_folder users/alice/Downloads
wine_run 60 xcopy /E /I 'C:\staging\tree' 'C:\users\alice\Downloads\tree' >/dev/null ||
    fail "xcopy into Downloads"
check_tree tree 'C:\users\alice\Downloads\tree'
check_calls
echo "xcopy /E /I into Downloads: $(eligible_of tree | wc -l) eligible files scanned once each, whole; 3 detections by name"

new_folder ProgramData/Vendor
wine_run 60 xcopy /E /I 'C:\staging\tree' 'C:\ProgramData\Vendor\tree' >/dev/null ||
    fail "xcopy into the program-data tree"
check_tree tree 'C:\ProgramData\Vendor\tree'
check_calls
echo "xcopy /E /I into C:\\ProgramData\\Vendor: the same"

wine_run 30 cmd /c move 'C:\staging\mtree' 'C:\users\alice\Downloads\mtree' >/dev/null ||
    fail "move of a whole tree into Downloads"
[[ -d "$c/staging/mtree" ]] && fail "the tree was not moved"
check_tree mtree 'C:\users\alice\Downloads\mtree'
check_calls
echo "a tree moved in whole: its files scanned and the detection recorded by name"

assert_eq 7 "$(find "$logs/Vault" -type f | wc -l)" "files in the quarantine folder"
stop_watching
echo "PASS folder_e2e"
