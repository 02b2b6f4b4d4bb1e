// What the engine needs from the program hosting it: a disk prompt, an error
// box and a chance to dispatch pending messages. The engine shows no window
// itself; the window, the command line and tests each install their own host.
#pragma once

#include <string>

namespace arcovelo {

class BackupHost {
public:
    virtual ~BackupHost() = default;
    // Modal information box "Information" with OK and Cancel; true for OK.
    virtual bool AskForDisk(const std::string& text) = 0;
    // Modal error box "Error" with one OK button.
    virtual void ShowError(const std::string& text) = 0;
    // Something a backup was asked to take and could not (the archive is
    // still written and valid).
    virtual void ShowWarning(const std::string& text) = 0;
    // Lets the host handle pending messages (painting, clicks) mid-operation.
    virtual void ProcessMessages() = 0;
    // True when AskForDisk asks a person, who may then change the disk: each
    // finished volume must be in place before the question. False when the
    // answers come without one (every volume then stays where it is written).
    virtual bool AsksPersonForDisks() const { return true; }
};

// A host that needs no user interface: prompts answer Cancel, errors and
// warnings go to stderr, nothing is dispatched.
class HeadlessHost : public BackupHost {
public:
    bool AskForDisk(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    void ProcessMessages() override {}
    bool AsksPersonForDisks() const override { return false; }
};

}  // namespace arcovelo
