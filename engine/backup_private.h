// Helpers shared by the writer and the reader of TBackupFile.
#pragma once

#include "backup.h"

#include <exception>
#include <string>

namespace arcovelo {

// done*100/total, truncated, within 0..100; 0 when total is not positive.
TPercentage PercentOf(std::int64_t done, std::int64_t total);

// What a person reads under a failure's message: "PATH: REASON", the reason
// (and the path, when it names one) taken from `message`, a failure's text.
std::string FailureDetail(const std::string& path, const std::string& message);
inline std::string FailureDetail(const std::string& path, const std::exception& error)
{
    return FailureDetail(path, std::string(error.what()));
}
// The same for a failure kept to be reported later.
inline std::string FailureDetail(const std::string& path, const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return FailureDetail(path, e);
    }
}

// `text` without blanks and control characters at both ends.
std::string TrimBlanks(const std::string& text);

// Sets the engine's busy flag for a scope; cleared on every way out.
class BusyFlag {
public:
    explicit BusyFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyFlag() { flag_ = false; }
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;

private:
    bool& flag_;
};

}  // namespace arcovelo
