// A tmux server of the test's own, with one window ("view") running sh: the tests
// type into it, read what it shows and wait for the text they expect; TearDown
// ends the server.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "run_tool.h"

class TmuxPaneTest : public ::testing::Test {
  protected:
    // Starts the server with a window of width x height cells; skips without tmux.
    void StartPane(int width, int height) {
        if (std::system("command -v tmux >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "tmux is not installed";
        socket_ = "roderavo-test-" + std::to_string(getpid());
        dir_ = "/tmp/" + socket_;
        std::system(("mkdir -p " + dir_).c_str());
        ASSERT_EQ(Tmux("new-session -d -s view -x " + std::to_string(width) + " -y " +
                       std::to_string(height) + " sh"),
                  0);
    }
    void TearDown() override {
        if (socket_.empty()) return;
        Tmux("kill-server");
        std::system(("rm -rf " + dir_).c_str());
    }
    int Tmux(const std::string& args) {
        return std::system(
            ("tmux -L " + socket_ + " -f /dev/null " + args + " >/dev/null 2>&1").c_str());
    }
    // A command line, typed and entered.
    void Type(const std::string& line) {
        Tmux("send-keys -t view -l '" + line + "'");
        Tmux("send-keys -t view Enter");
    }
    // Keys by their tmux names: "Tab", "BTab", "Up", "Escape", "Space", "a".
    void Keys(const std::string& keys) { Tmux("send-keys -t view " + keys); }
    // What the window shows; escapes: with its attributes; joined: with wrapped lines
    // joined.
    std::string Pane(bool escapes = false, bool joined = false) {
        return Capture("tmux -L " + socket_ + " capture-pane -p " + (escapes ? "-e " : "") +
                       (joined ? "-J " : "") + "-t view 2>/dev/null");
    }
    std::string Format(const std::string& format) {
        return Capture("tmux -L " + socket_ + " display-message -p -t view '" + format + "'");
    }
    bool PaneShows(const std::string& text,
                   std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
        return WaitUntil([&] { return Pane().find(text) != std::string::npos; }, deadline);
    }
    bool PaneLacks(const std::string& text,
                   std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
        return WaitUntil([&] { return Pane().find(text) == std::string::npos; }, deadline);
    }

    std::string socket_;
    std::string dir_;

  private:
    static std::string Capture(const std::string& command) {
        std::string out;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return out;
        char buffer[4096];
        std::size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
        return out;
    }
};
