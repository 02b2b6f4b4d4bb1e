// What a backup's expansion leaves out: excluded files and folders, and
// hidden folders unless they are asked for.
#include "backup.h"
#include "restore_selection.h"

#include <algorithm>

namespace arcovelo {

// The subfolders of `folder` that recursion enters, in the listing's order:
// not excluded, and hidden ones only with BackupHidden (the others are
// counted in HiddenFoldersSkipped).
std::vector<std::string> TBackupFile::FoldersToEnter(const std::string& folder, FolderListing& listing)
{
    std::vector<std::string> enter;
    const auto take = [&](std::vector<std::string>& names) {
        for (auto& name : names)
            if (backupExclude_.empty() || !LeavesOut(backupExclude_, name, StoredName(fs_->AbsolutePath(folder + name))))
                enter.push_back(std::move(name));
    };
    take(listing.folders);
    if (!backupHidden_) {
        hiddenFoldersSkipped_ += static_cast<std::int32_t>(listing.hiddenFolders.size());
        return enter;
    }
    take(listing.hiddenFolders);
    std::sort(enter.begin(), enter.end());
    return enter;
}

}  // namespace arcovelo
