// Looks at the selected file records of an archive instead of restoring them
// (TBackupFile::VisitRecords walks the archive as Restore does): the restore
// plan and the comparison with the disk.
#pragma once

#include "stream.h"

#include <cstdint>
#include <string>

namespace arcovelo {

class RecordVisitor {
public:
    virtual ~RecordVisitor() = default;
    // A selected file record. Returns the stream that takes its decoded data
    // (its parts on later volumes too), or nullptr to pass them over unread.
    virtual Stream* Visit(const std::string& storedName, std::int32_t stamp) = 0;
};

}  // namespace arcovelo
