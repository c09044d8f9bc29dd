// kfw_sim_peer: the simulated module on real ports, as a process of its own for the transport
// tests.
//
//   kfw_sim_peer --transport jack|pty [--name PRODUCT] [--sysex LENGTH] [--notes-every MICROS]
//                [--baud BAUD]
//
// Prints "ready\t<transmit to>\t<receive from>" once the ports exist, then "event <code> <arg>"
// (two hex digits each) for every command the module acts on. Each SIGUSR1 sends a SysEx message
// of LENGTH bytes (F0, data bytes i * 7 + 3 mod 128, F7), over a terminal in 200-byte pieces 3 ms
// apart as a slow driver hands them on, then prints "sent". With --notes-every it also sends a
// note-on every MICROS microseconds for as long as it runs. With --baud the module paces what it
// receives and answers as a MIDI cable of that rate would. Runs until SIGTERM or SIGINT, or until
// the process that started it ends.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "sim/peer.h"

namespace {

std::mutex outputMutex;

void PrintLine(const std::string& line) {
  std::lock_guard lock(outputMutex);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  kfw::PeerOptions options;
  size_t sysexLength = 2;
  unsigned long notesEvery = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--transport" && kfw::ParsePeerTransport(value, options.transport)) continue;
    if (option == "--name") {
      options.identity.productName = value;
    } else if (option == "--sysex" && std::stoul(value) >= 2) {
      sysexLength = std::stoul(value);
    } else if (option == "--notes-every" && std::stoul(value) > 0) {
      notesEvery = std::stoul(value);
    } else if (option == "--baud") {
      options.baud = static_cast<uint32_t>(std::stoul(value));
    } else {
      std::fprintf(stderr, "kfw_sim_peer: cannot use %s %s\n", option.c_str(), value.c_str());
      return 2;
    }
  }

  // Blocked before any thread starts, so that every thread inherits the mask and the signals
  // wait for the loop below. A test that dies takes its peer with it.
  sigset_t signals;
  sigemptyset(&signals);
  for (int number : {SIGTERM, SIGINT, SIGUSR1}) sigaddset(&signals, number);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  const int signalReader = signalfd(-1, &signals, SFD_CLOEXEC);

  kfw::SimulatorPeer peer(options);
  peer.module().SetObserver([](const kfw::ModuleEvent& event) {
    char line[32];
    std::snprintf(line, sizeof line, "event %.2x %.2x", event.command, event.argument);
    PrintLine(line);
  });
  std::string error;
  if (signalReader < 0 || !peer.Start(error)) {
    std::fprintf(stderr, "kfw_sim_peer: %s\n", signalReader < 0 ? strerror(errno) : error.c_str());
    return 1;
  }
  PrintLine("ready\t" + peer.ports().transmitTo + "\t" + peer.ports().receiveFrom);

  std::atomic<bool> stopNotes{false};
  std::thread notes;
  if (notesEvery) {
    notes = std::thread([&] {
      const std::vector<uint8_t> noteOn = {0x90, 0x3C, 0x40};
      while (!stopNotes.load()) {
        peer.SendRaw(noteOn);
        std::this_thread::sleep_for(std::chrono::microseconds(notesEvery));
      }
    });
  }

  signalfd_siginfo received;
  while (read(signalReader, &received, sizeof received) == sizeof received &&
         received.ssi_signo == SIGUSR1) {
    std::vector<uint8_t> message(sysexLength, 0xF0);
    for (size_t i = 1; i + 1 < message.size(); ++i)
      message[i] = static_cast<uint8_t>((i * 7 + 3) & 0x7F);
    message.back() = 0xF7;
    const bool sent = peer.SendRaw(message, 200, std::chrono::microseconds(3000));
    PrintLine(sent ? "sent" : "send failed");
  }
  stopNotes = true;
  if (notes.joinable()) notes.join();
  peer.Stop();
  return 0;
}
