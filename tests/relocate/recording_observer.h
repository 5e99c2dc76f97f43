// An observer of the relocation engine for tests run without a dialog: it hears
// what the user would be told, answers every question as set, and can act at the
// moment files start to move.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/relocation_engine.h"

namespace relocation_testing {

class SilentProgress : public AccessScanProgress {
public:
    void OnTesting(const std::wstring&) override {}
    void OnStopped(const std::wstring& path) override { stoppedAt = path; }
    void OnPassed() override {}
    std::wstring stoppedAt;  // where the last scan stopped
};

class RecordingObserver : public RelocationObserver {
public:
    explicit RecordingObserver(bool answerYes = true) : answerYes_(answerYes) {}

    AccessScanProgress& ScanProgress() override { return progress; }
    void OnScanEnded() override { ++scansEnded; }
    bool Confirm(RelocationMessage question, const RelocationFacts& facts) override {
        heard.push_back(question);
        asked = facts;
        return answerYes_;
    }
    void Report(RelocationMessage message, const RelocationFacts& facts) override {
        heard.push_back(message);
        lastFacts = facts;
    }
    void OnFilesMoving(bool isMoving) override {
        moving.push_back(isMoving);
        if (isMoving && onMoving) onMoving();
    }

    std::vector<RelocationMessage> heard;  // every question and message, in order
    RelocationFacts asked;                 // the facts of the last question
    RelocationFacts lastFacts;             // the facts of the last message
    std::vector<bool> moving;              // each OnFilesMoving call
    SilentProgress progress;
    int scansEnded = 0;
    std::function<void()> onMoving;  // run when files start to move

private:
    bool answerYes_;
};

}  // namespace relocation_testing
