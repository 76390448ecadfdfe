// The other process of the lock tests: the program qelxpp_peer started on
// the test's folder, asked one command at a time.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

namespace qeltest {

class Peer {
public:
    explicit Peer(const std::string& folder) {
        signal(SIGPIPE, SIG_IGN);  // a peer that died gives "<no answer>", not the end of the tests
        int toPeer[2], fromPeer[2];
        if (pipe2(toPeer, O_CLOEXEC) != 0) return;
        if (pipe2(fromPeer, O_CLOEXEC) != 0) {
            close(toPeer[0]);
            close(toPeer[1]);
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(toPeer[0], 0);
            dup2(fromPeer[1], 1);
            execl(QELXPP_PEER, QELXPP_PEER, folder.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(toPeer[0]);
        close(fromPeer[1]);
        in_ = toPeer[1];
        out_ = fromPeer[0];
    }
    ~Peer() {
        if (in_ >= 0) {
            Send("quit\n");
            close(in_);
        }
        if (pid_ > 0) {
            // The peer ends by itself, cleanly; one that has not ended within
            // a minute is killed.
            int status = 0;
            pid_t done = 0;
            for (int i = 0; i < 600 && (done = waitpid(pid_, &status, WNOHANG)) == 0; ++i) usleep(100000);
            if (done == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
            if (done != pid_ || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
                ADD_FAILURE() << "the peer program ended with status " << status;
        }
        if (out_ >= 0) close(out_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // The peer's answer line to one command; "<no answer>" when it gave
    // none within a minute.
    std::string Ask(const std::string& command) {
        if (!Send(command + "\n")) return "<no answer>";
        std::string line;
        for (;;) {
            size_t nl = pending_.find('\n');
            if (nl != std::string::npos) {
                line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                return line;
            }
            pollfd pfd{out_, POLLIN, 0};
            if (poll(&pfd, 1, 60000) <= 0) return "<no answer>";
            char buf[4096];
            ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0) return "<no answer>";
            pending_.append(buf, static_cast<size_t>(n));
        }
    }

    // Ends the peer at once, as a killed program ends (SIGKILL).
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        if (in_ >= 0) close(in_);
        in_ = -1;
    }

private:
    bool Send(const std::string& text) {
        if (in_ < 0) return false;
        return write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string pending_;
};

}  // namespace qeltest
