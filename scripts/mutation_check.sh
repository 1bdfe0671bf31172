#!/usr/bin/env bash
# Puts back, one at a time, faults the project fixed or guards against, and checks that the
# tests catch each: the tracked files are copied to a temporary folder and built there once;
# each row then changes one file, rebuilds what it needs, runs the suites that should notice,
# and puts the file back. The working tree is never touched.
# usage: scripts/mutation_check.sh [NAME_REGEX]   (only the rows whose name matches)
set -uo pipefail
cd "$(dirname "$0")/.."
only=${1:-.}

work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-mutation.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/src
build=$src/build
mkdir -p "$src"
git ls-files -z | xargs -0 cp --parents -t "$src" || {
    echo "cannot copy the tracked files" >&2
    exit 2
}

# ccache when present; the same relative paths let it reuse other builds of this tree
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=$src CCACHE_NOHASHDIR=1
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
jobs=$(nproc)
all_targets=(utils_tests ini_tests http_tests resume_tests standin_tests engine_tests
    folder_tests gui_tests vurozudeduz velmo-standin)
echo "building in $build ..."
if ! { cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" &&
    nice cmake --build "$build" -j"$jobs" --target "${all_targets[@]}"; } >"$work/build.log" 2>&1; then
    tail -30 "$work/build.log"
    echo "the unchanged tree does not build" >&2
    exit 2
fi

# name | file | text to find (exact) | replacement | targets | ctest regex of the suites to run
rows=()
row() { rows+=("$1"$'\x1f'"$2"$'\x1f'"$3"$'\x1f'"$4"$'\x1f'"$5"$'\x1f'"$6"); }

row "send without MSG_NOSIGNAL" Velmoupload/http/sockets/SimpleSocket.cpp \
    "bytesToSend - nTotal, MSG_NOSIGNAL)" "bytesToSend - nTotal, 0)" \
    http_tests "^SocketTest\.SendToAPeer"
row "32-bit seek in the sampled digest" Velmoupload/utils/UtilsHash.cpp \
    "static_cast<off_t>(offsets[i])" "static_cast<int32_t>(offsets[i])" \
    utils_tests "^FileHashTest\.Sparse"
row "32-bit seek for a piece" Velmoupload/http/sockets/SimpleSocket.cpp \
    "off_t nPos = static_cast<off_t>(nOffset);" "off_t nPos = static_cast<int32_t>(nOffset);" \
    engine_tests "^LargeFileTest\."
row "sample offsets in double precision" Velmoupload/utils/UtilsHash.cpp \
    "ScaleLikeExtended(nFileSize, 0.37)" "static_cast<long long>(nFileSize * 0.37)" \
    utils_tests "^(DigestMDVelmo|FileHashTest\.Sampled)"
row "Content-Length ignored" Velmoupload/http/HttpReply.cpp \
    "head.framing = Framing::Length;" "(void)0;" \
    http_tests "^HttpReplyTest\."
row "chunk size lines kept in the body" Velmoupload/http/HttpReply.cpp \
    "if (WalkChunks(strRaw, head.nBodyStart, &strBody) != ChunkWalk::Complete)" \
    "if (WalkChunks(strRaw, head.nBodyStart, nullptr) != ChunkWalk::Complete || (strBody = strRaw.substr(head.nBodyStart), false))" \
    http_tests "^HttpClientTest\.EachReply"
row "form values unencoded" Velmoupload/http/FormText.cpp \
    "m_strText += UrlEncode(strValue);" "m_strText += strValue;" \
    http_tests "^FormTextTest\."
row "INI written in place" Velmoupload/ini/QvIniFile.cpp \
    "int fd = mkostemp(tempName.data(), O_CLOEXEC);" \
    "int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600); tempName.assign(strPath.begin(), strPath.end()); tempName.push_back('\\0');" \
    ini_tests "^QvIniFileTest\.(FailedSave|Concurrent)"
row "INI not owner-only" Velmoupload/ini/QvIniFile.cpp \
    "bool bOk = fchmod(fd, S_IRUSR | S_IWUSR) == 0;" "bool bOk = true;" \
    ini_tests "^QvIniFileTest\.SavedFileIsOwnerOnly"
row "pending resume changes dropped at close" Velmoupload/core/ResumeManager.cpp \
    $'if (bDirty)\n        _Save();' "(void)bDirty;" \
    resume_tests "^ResumeManagerTest\.CloseWrites"
row "a resumed member outside its folder kept" Velmoupload/core/ResumeManager.cpp \
    'return "the file is not below its folder";' "return nullptr;" \
    folder_tests "^DamagedRecordsTest\."
row "a trickling reply given no deadline" Velmoupload/http/QvHttpClient.cpp \
    "std::chrono::milliseconds(2LL * NetTimeouts::IdleMs());" "std::chrono::hours(1);" \
    http_tests "^HttpClientTest\.EachReply"
row "a FIFO in a folder opened" Velmoupload/core/FolderManager.cpp \
    "if (!IsRegularFile(strPath)) {" "if (false) {" \
    folder_tests "^FolderListingTest\.EntriesThatAreNotRegularFiles"
row "a piece's short read sent" Velmoupload/http/VelmoHttpClient.cpp \
    $'if (fread(piece.buffer.get(), 1, static_cast<size_t>(piece.nSize), pFile) !=\n        static_cast<size_t>(piece.nSize))\n        return false;' \
    "(void)fread(piece.buffer.get(), 1, static_cast<size_t>(piece.nSize), pFile);" \
    engine_tests "^EngineTest\.AFileThatShrank"
row "300 answered with the SHA-1 loops" Velmoupload/core/UploadHandler.cpp \
    "if (bCarriedSha1 || !UploadManager::UpdateTaskStatus(pTaskInfo, TaskStatusHash, true))" \
    "if (!UploadManager::UpdateTaskStatus(pTaskInfo, TaskStatusHash, true))" \
    engine_tests "^QuickDigestTest\."
row "stand-in accepts a wrong cthash" standin/UploadApi.cpp \
    "if (!SameDigest(strPieceHash, piece.strHash)) {" "if (false) {" \
    standin_tests "^StandinPieceTest\.RefusesBad"
row "stand-in accepts a wrong range" standin/UploadApi.cpp \
    "if (upload.bDone || ask.nStart != upload.nOffset)" "if (upload.bDone)" \
    standin_tests "^StandinPieceTest\.RefusesBad"
row "stand-in accepts a bad signature" standin/UploadApi.cpp \
    "if (!SameDigest(UploadSignature(upload.strUploadKey), query.Get(\"sig\"))) {" "if (false) {" \
    standin_tests "^StandinPieceTest\.RefusesBad"
row "stand-in takes another account's pick code" standin/UploadApi.cpp \
    "if (!bFound || upload.nUserId != account.nId) {" "if (!bFound) {" \
    standin_tests "^StandinPieceTest\.PickCodeOfAnotherAccount"
row "desktop socket folder shared by all users" client/single_instance.cpp \
    "std::string(\"/tmp/\") + kSocketName + \"-\" + std::to_string(getuid())" \
    "std::string(\"/tmp/\") + kSocketName" \
    vurozudeduz "^gui_e2e_start$"
row "cleared row left behind in the record (stale row)" client/task_actions.cpp \
    $'            iter = erase_top_row(iter);\n        else' \
    $'            iter = m_refTreeModel->erase(iter);\n        else' \
    gui_tests "^TaskListTest\.RowsGoWithTheirRecords"

printf '%-50s %s\n' "fault" "result"
missed=0
for r in "${rows[@]}"; do
    IFS=$'\x1f' read -r -d '' name file from to targets regex < <(printf '%s\0' "$r")
    [[ "$name" =~ $only ]] || continue
    cp "$src/$file" "$work/original"
    if ! FROM=$from TO=$to perl -0777 -i -pe \
        'BEGIN { $f = $ENV{FROM}; $t = $ENV{TO} } $n += s/\Q$f\E/$t/; END { $? = $n == 1 ? 0 : 3 }' \
        "$src/$file"; then
        result="NOT APPLIED"
    elif ! nice cmake --build "$build" -j"$jobs" --target $targets >"$work/row.log" 2>&1; then
        result="NOT APPLIED (does not build)"
    elif (cd "$build" && timeout 900 ctest -R "$regex" --no-tests=error --timeout 300 >"$work/row.log" 2>&1); then
        result="MISSED"
    elif grep -q "No tests were found" "$work/row.log"; then
        result="NOT APPLIED (no test matches $regex)"
    else
        result="caught ($(grep -oE '[0-9]+ tests? failed out of [0-9]+' "$work/row.log" | head -1))"
    fi
    # back as it was, with a new time stamp so that the next build compiles it again
    cp "$work/original" "$src/$file"
    touch "$src/$file"
    [[ "$result" == caught* ]] || missed=$((missed + 1))
    printf '%-50s %s\n' "$name" "$result"
done
[ "$missed" -eq 0 ]
