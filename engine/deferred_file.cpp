#include "deferred_file.h"

namespace arcovelo {

DeferredFile::DeferredFile(FileSystem& fs, std::string destination)
    : fs_(fs), destination_(std::move(destination))
{
}

void DeferredFile::Create()
{
    if (file_)
        return;
    file_ = fs_.CreatePending(destination_, true);
    file_->WriteBuffer(kept_.data(), kept_.size());
    std::vector<std::uint8_t>().swap(kept_);
    if (sealed_)
        file_->Seal(stamp_);
}

PendingFile& DeferredFile::File()
{
    Create();
    return *file_;
}

std::size_t DeferredFile::Write(const void* buffer, std::size_t count)
{
    if (!file_ && kept_.size() + count <= kMostKept) {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        kept_.insert(kept_.end(), bytes, bytes + count);
        return count;
    }
    return File().Write(buffer, count);
}

// Reading back or moving within the data is rare: the file is made for it.
std::size_t DeferredFile::Read(void* buffer, std::size_t count) { return File().Read(buffer, count); }
std::int64_t DeferredFile::Seek(std::int64_t offset, SeekOrigin origin) { return File().Seek(offset, origin); }
std::int64_t DeferredFile::Position() { return file_ ? file_->Position() : std::int64_t(kept_.size()); }
std::int64_t DeferredFile::Size() { return file_ ? file_->Size() : std::int64_t(kept_.size()); }
std::int32_t DeferredFile::DateStamp() { return File().DateStamp(); }
FileIdentity DeferredFile::Identity() { return File().Identity(); }
void DeferredFile::Sync() { File().Sync(); }

void DeferredFile::Close()
{
    if (file_)
        file_->Close();
}

void DeferredFile::Commit(std::int32_t stamp) { File().Commit(stamp); }

void DeferredFile::Seal(std::int32_t stamp)
{
    sealed_ = true;
    stamp_ = stamp;
    if (file_)
        file_->Seal(stamp);
}

void DeferredFile::Place() { File().Place(); }

}  // namespace arcovelo
