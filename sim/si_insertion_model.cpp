#include "sim/si_insertion_model.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "core/common_fun.h"
#include "platform/fpga_reg.h"

namespace hx::sim {

namespace {

constexpr std::array<U32, 4> kRegisters = {kRegSiCommit, kRegSiWordStrobe, kRegSiWordIndex, kRegSiWordData};
constexpr std::size_t kRecordBytes = kSiRecordWords * 4;
constexpr std::size_t kPacketOffset = 8;
constexpr std::size_t kPacketBytes = 188;
static_assert(kPacketOffset + kPacketBytes == kRecordBytes);

}  // namespace

SiInsertionModel::SiInsertionModel(std::string folder, std::uint64_t capBytes) : folder_(std::move(folder)), cap_(capBytes) {
    files_.fill(-1);
}

SiInsertionModel::~SiInsertionModel() {
    for (int fd : files_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::span<const U32> SiInsertionModel::Registers() const { return kRegisters; }

std::string SiInsertionModel::FilePath(U32 channel) const {
    char name[16];
    std::snprintf(name, sizeof name, "out-%02u.ts", channel);
    return (std::filesystem::path(folder_) / name).string();
}

void SiInsertionModel::Write(U32 index, U32 value) {
    std::lock_guard lock(mutex_);
    switch (index) {
        case kRegSiWordIndex:
            wordIndex_ = value;
            break;
        case kRegSiWordData:
            wordData_ = value;
            break;
        case kRegSiWordStrobe:
            if (wordStrobe_.Rises(value)) {
                if (wordIndex_ < kSiRecordWords) {
                    words_[wordIndex_] = wordData_;
                    loaded_.set(wordIndex_);
                } else {
                    overrun_ = true;
                }
            }
            break;
        case kRegSiCommit:
            if (commitStrobe_.Rises(value)) {
                Commit();
            }
            break;
        default:
            break;
    }
}

void SiInsertionModel::Commit() {
    std::array<U8, kRecordBytes> record{};
    for (U32 word = 0; word < kSiRecordWords; ++word) {
        PutBe32(record.data() + 4 * word, words_[word]);
    }
    const bool complete = loaded_.all() && !overrun_;
    loaded_.reset();
    overrun_ = false;
    const U32 channel = record[1];
    if (!complete || channel >= kSiChannels || record[kPacketOffset] != 0x47) {
        ++rejected_;
        return;
    }
    Append(channel, record.data() + kPacketOffset);
}

bool SiInsertionModel::Open(U32 channel, bool truncate) {
    std::error_code ignored;
    std::filesystem::create_directories(folder_, ignored);
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0);
    const int fd = ::open(FilePath(channel).c_str(), flags, 0644);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    files_[channel] = fd;
    sizes_[channel] = static_cast<std::uint64_t>(status.st_size);
    return true;
}

// Moves the full file aside and starts a fresh one. If the move fails the file
// is started over anyway: the cap is what protects the disk.
bool SiInsertionModel::Rotate(U32 channel) {
    ::close(files_[channel]);
    files_[channel] = -1;
    const std::string path = FilePath(channel);
    std::error_code ignored;
    std::filesystem::rename(path, path + ".0", ignored);
    return Open(channel, true);
}

void SiInsertionModel::Append(U32 channel, const U8* packet) {
    if (files_[channel] < 0 && !Open(channel, false)) {
        ++rejected_;
        return;
    }
    if (sizes_[channel] + kPacketBytes > cap_ && !Rotate(channel)) {
        ++rejected_;
        return;
    }
    if (::write(files_[channel], packet, kPacketBytes) != static_cast<ssize_t>(kPacketBytes)) {
        ++rejected_;
        return;
    }
    sizes_[channel] += kPacketBytes;
    ++accepted_;
}

U32 SiInsertionModel::Accepted() {
    std::lock_guard lock(mutex_);
    return accepted_;
}

U32 SiInsertionModel::Rejected() {
    std::lock_guard lock(mutex_);
    return rejected_;
}

}  // namespace hx::sim
