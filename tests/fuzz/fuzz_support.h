// What the archive-reading fuzz harnesses share: an engine reading the input
// as an in-memory archive, with every prompt and error answered quietly.
#pragma once

#include "backup.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace arcovelo::fuzz {

class QuietHost : public BackupHost {
public:
    bool AskForDisk(const std::string&) override { return false; }
    void ShowError(const std::string&) override {}
    void ShowWarning(const std::string&) override {}
    void ProcessMessages() override {}
};

// An engine set to read `input` through InStream (":STREAM").
struct StreamEngine {
    StreamEngine(const std::uint8_t* data, std::size_t size)
        : input(std::vector<std::uint8_t>(data, data + size))
    {
        engine.SetHost(std::make_shared<QuietHost>());
        engine.SetInStream(&input);
        engine.SetWorkers(2);
        engine.OnError = [](TBackupFile*, int, const std::string&) {};
    }
    MemoryStream input;
    TBackupFile engine;
};

}  // namespace arcovelo::fuzz
