// TBackupFile: attributes, error delivery and the services shared by the
// writer (backup_writer.cpp) and the reader (backup_reader.cpp).
#include "backup.h"
#include "backup_private.h"
#include "ordered_pipeline.h"

#include <algorithm>

namespace arcovelo {

std::string ErrorMessage(int code)
{
    switch (code) {
    case errReadFile: return "Cannot read file";
    case errOverwrite: return "Overwriting file failed";
    case errReadArchive: return "Cannot read archive";
    case errWriteArchive: return "Cannot write to archive";
    case errInvalidArchive: return "Invalid archive type";
    case errCompression: return "Compression error";
    case errTempFile: return "Cannot create temporary file to save the file IDs";
    default: return "";
    }
}

TBackupFile::TBackupFile()
    : fs_(NativeFileSystem()), host_(std::make_shared<HeadlessHost>()), workers_(DefaultWorkerCount())
{
}

TBackupFile::~TBackupFile() = default;

void TBackupFile::SetBackupMode(TBackupMode v)
{
    if (v == backupMode_)
        return;
    backupMode_ = v;
    if (v == bmIncremental)
        setArchiveFlag_ = true;
}

std::int32_t TBackupFile::CompressionRate() const
{
    if (totalSize_ == 0)
        return 0;
    return static_cast<std::int32_t>(100 - bytesWritten_ * 100 / totalSize_);
}

void TBackupFile::Fail(int code, std::string detail)
{
    errorCode_ = code;
    errorDetail_ = std::move(detail);
    continueFlag_ = false;
}

void TBackupFile::ReportError()
{
    const std::string message = ErrorMessage(errorCode_);
    if (OnError)
        OnError(this, errorCode_, message);
    else
        host_->ShowError(message);
}

void TBackupFile::Warn(const std::string& text)
{
    if (OnWarning)
        OnWarning(this, text);
    else
        host_->ShowWarning(text);
}

void TBackupFile::Yield() { host_->ProcessMessages(); }

void TBackupFile::Progress(const std::string& fileName)
{
    ReportProgress(fileName, PercentOf(bytesProcessed_, totalSize_));
}

void TBackupFile::ReportProgress(const std::string& fileName, TPercentage percent)
{
    if (OnProgress)
        OnProgress(this, fileName, percent, continueFlag_);
}

bool TBackupFile::AskForDisk(std::uint16_t volume)
{
    if (OnNeedDisk)
        OnNeedDisk(this, volume, continueFlag_);
    else
        continueFlag_ = host_->AskForDisk("Please insert disk " + std::to_string(volume) +
                                          " and click OK to continue.");
    return continueFlag_;
}

std::string FailureDetail(const std::string& path, const std::string& message)
{
    // Platform failures read `<what> "<path>". <reason>` or `<what>: <reason>`;
    // the path they name is kept when they name one.
    const auto quoted = message.rfind("\". ");
    if (quoted != std::string::npos) {
        const auto open = message.find('"');
        const std::string named = open < quoted ? message.substr(open + 1, quoted - open - 1) : path;
        return named + ": " + message.substr(quoted + 3);
    }
    const auto colon = message.find(": ");
    return path + ": " + (colon == std::string::npos ? message : message.substr(colon + 2));
}

TPercentage PercentOf(std::int64_t done, std::int64_t total)
{
    if (total <= 0 || done <= 0)
        return 0;
    return static_cast<TPercentage>(std::min<std::int64_t>(100, done * 100 / total));
}

std::string TrimBlanks(const std::string& text)
{
    auto isBlank = [](unsigned char c) { return c <= ' '; };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(static_cast<unsigned char>(text[first])))
        ++first;
    while (last > first && isBlank(static_cast<unsigned char>(text[last - 1])))
        --last;
    return text.substr(first, last - first);
}

}  // namespace arcovelo
