// kfw_sim_peer: the simulated module on real ports, as a process of its own for the transport
// tests.
//
//   kfw_sim_peer --transport jack|pty [--in NAME] [--out NAME] [--name PRODUCT]
//
// Prints "ready\t<transmit to>\t<receive from>" once the ports exist, then "event <code> <arg>"
// (two hex digits each) for every command the module acts on. A line "sysex LENGTH PIECE PAUSE_US"
// on standard input sends a SysEx message of LENGTH bytes (F0, data bytes i * 7 + 3 mod 128, F7)
// in pieces. Runs until SIGTERM or SIGINT, or until standard input closes.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "sim/peer.h"
#include "tests/ports/input_recorder.h"

namespace {

std::mutex outputMutex;

void PrintLine(const std::string& line) {
  std::lock_guard lock(outputMutex);
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void RunCommand(kfw::SimulatorPeer& peer, const std::string& line) {
  size_t length = 0, piece = 0;
  long pause = 0;
  if (std::sscanf(line.c_str(), "sysex %zu %zu %ld", &length, &piece, &pause) == 3) {
    const bool sent =
        peer.SendRaw(kfw::test::PatternSysEx(length), piece, std::chrono::microseconds(pause));
    PrintLine(sent ? "sent" : "send failed");
  }
}

}  // namespace

int main(int argc, char** argv) {
  kfw::PeerOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--transport") {
      if (!kfw::ParsePeerTransport(value, options.transport)) {
        std::fprintf(stderr, "unknown transport \"%s\": use jack, alsa or pty\n", value.c_str());
        return 2;
      }
    } else if (option == "--in") {
      options.inPort = value;
    } else if (option == "--out") {
      options.outPort = value;
    } else if (option == "--name") {
      options.identity.productName = value;
    } else {
      std::fprintf(stderr, "unknown option \"%s\"\n", option.c_str());
      return 2;
    }
  }

  // Blocked before any thread starts, so every thread inherits the mask and the signals wait for
  // the main loop.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);

  kfw::SimulatorPeer peer(options);
  peer.module().SetObserver([](const kfw::ModuleEvent& event) {
    char line[32];
    std::snprintf(line, sizeof line, "event %.2x %.2x", event.command, event.argument);
    PrintLine(line);
  });
  std::string error;
  if (signals < 0 || !peer.Start(error)) {
    std::fprintf(stderr, "kfw_sim_peer: %s\n", signals < 0 ? std::strerror(errno) : error.c_str());
    return 1;
  }
  PrintLine("ready\t" + peer.ports().transmitTo + "\t" + peer.ports().receiveFrom);

  std::string pending;
  for (;;) {
    pollfd waiting[2] = {{signals, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(waiting, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (waiting[0].revents) break;
    if (waiting[1].revents) {
      char buffer[256];
      const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
      if (count <= 0) break;  // the test that started us has gone
      pending.append(buffer, static_cast<size_t>(count));
      for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        RunCommand(peer, pending.substr(0, end));
        pending.erase(0, end + 1);
      }
    }
  }
  peer.Stop();
  return 0;
}
