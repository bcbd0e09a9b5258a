#include "sim/ftp_service.h"

#include <arpa/inet.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

#include "core/command_runner.h"
#include "core/file_util.h"
#include "core/run_profile.h"

namespace hx::sim {

namespace {

std::mutex g_mutex;
U32 g_failuresLeft = 0;
std::optional<std::size_t> g_cutAt;

struct Transfer {
    std::string host;
    std::string local;
    std::string remote;
};

// HOST LOCAL [REMOTE] after the busybox options (-c, -v; -u, -p, -P with a value).
std::optional<Transfer> ParseTransfer(const Command& command) {
    std::vector<std::string> words;
    for (std::size_t i = 1; i < command.argv.size(); ++i) {
        const std::string& word = command.argv[i];
        if (word == "-u" || word == "-p" || word == "-P") {
            ++i;
        } else if (word == "-c" || word == "-v") {
        } else {
            words.push_back(word);
        }
    }
    if (words.size() != 2 && words.size() != 3) {
        return std::nullopt;
    }
    return Transfer{words[0], words[1], words.size() == 3 ? words[2] : words[1]};
}

std::string BackBoardAddress() {
    in_addr address{htonl(SimBoardAddress(16))};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

// The local file in the command's working directory; nullopt outside the data root.
std::optional<std::filesystem::path> LocalPath(const Command& command, const std::string& local) {
    std::filesystem::path path;
    if (!local.empty() && local.front() == '/') {
        path = ResolvePath(local);
    } else {
        path = std::filesystem::path(ResolvePath(command.workingDirectory.value_or("/"))) / local;
    }
    path = path.lexically_normal();
    if (local.empty() || !IsInsideDataRoot(path)) {
        return std::nullopt;
    }
    return path;
}

// The remote file in the FTP folder; nullopt when the name climbs out of it.
std::optional<std::filesystem::path> RemotePath(const std::string& remote) {
    const std::filesystem::path folder = std::filesystem::path(ResolvePath(kSimFtpFolder)).lexically_normal();
    const std::filesystem::path relative = std::filesystem::path(remote).relative_path().lexically_normal();
    if (relative.empty() || *relative.begin() == ".." || relative.filename().empty()) {
        return std::nullopt;
    }
    return folder / relative;
}

// Takes one transfer's share of the faults: false when it is to fail; the
// length to cut the file to, when it is to be cut.
bool TakeFaults(std::optional<std::size_t>& cut) {
    std::lock_guard lock(g_mutex);
    if (g_failuresLeft > 0) {
        --g_failuresLeft;
        return false;
    }
    cut = g_cutAt;
    g_cutAt.reset();
    return true;
}

CommandResult Perform(const Command& command, bool get) {
    Command_Record(command);
    const CommandResult failed{1, true, {}};
    const std::optional<Transfer> transfer = ParseTransfer(command);
    if (!transfer || transfer->host != BackBoardAddress()) {
        return failed;
    }
    const std::optional<std::filesystem::path> local = LocalPath(command, transfer->local);
    const std::optional<std::filesystem::path> remote = RemotePath(transfer->remote);
    if (!local || !remote) {
        return failed;
    }
    const std::filesystem::path& source = get ? *remote : *local;
    const std::filesystem::path& target = get ? *local : *remote;
    std::error_code error;
    if (!std::filesystem::is_regular_file(source, error)) {
        return failed;
    }
    std::optional<std::size_t> cut;
    if (!TakeFaults(cut)) {
        return failed;
    }
    std::optional<std::vector<U8>> content = File_ReadAll(source.string());
    if (!content) {
        return failed;
    }
    if (cut && *cut < content->size()) {
        content->resize(*cut);
    }
    if (!File_MakeDirectories(target.parent_path().string()) || !File_WriteAtomic(target.string(), *content)) {
        return failed;
    }
    return CommandResult{0, true, {}};
}

}  // namespace

void SimFtp_Install() {
    {
        std::lock_guard lock(g_mutex);
        g_failuresLeft = 0;
        g_cutAt.reset();
    }
    Command_SetSimHandler("ftpget", [](const Command& command) { return Perform(command, true); });
    Command_SetSimHandler("ftpput", [](const Command& command) { return Perform(command, false); });
}

void SimFtp_FailNextTransfers(U32 count) {
    std::lock_guard lock(g_mutex);
    g_failuresLeft = count;
}

void SimFtp_CutNextTransfer(std::size_t bytes) {
    std::lock_guard lock(g_mutex);
    g_cutAt = bytes;
}

}  // namespace hx::sim
