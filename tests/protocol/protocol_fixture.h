// The rig of the protocol tests: the scriptable device opened as the program opens its ports, a
// clock that never sleeps, and replies handed to the reception side when a message goes out.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "midi/ports.h"
#include "tests/support/counting_clock.h"
#include "tests/support/test_device.h"

namespace kfw::test {

using Bytes = std::vector<uint8_t>;

// A reply from the module of company 0x0021, product 0x0A: header, body, F7.
inline Bytes ModuleReply(const Bytes& body, uint16_t company = 0x0021, uint8_t product = 0x0A) {
  Bytes message = {
      0xF0,    0x00, static_cast<uint8_t>(company >> 8), static_cast<uint8_t>(company & 0xFF),
      product, 0x7F};
  for (uint8_t byte : body) message.push_back(byte);
  message.push_back(0xF7);
  return message;
}

class ProtocolTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(OpenPorts(0, 0)); }

  // Each time a message is sent, the device hands these byte runs back (one buffer each), then
  // stops answering.
  void AnswerWith(std::vector<Bytes> replies) {
    device.onSend = [this, replies](const Bytes&) {
      for (const Bytes& reply : replies) device.Deliver(reply);
    };
  }

  // The next message sent is answered with `message` handed over `piece` bytes at a time: the
  // first piece at once, then one more at every tick, so a reply longer than the ring arrives
  // whole while it is being read.
  void AnswerInPieces(Bytes message, size_t piece) {
    auto next = std::make_shared<size_t>(0);
    auto deliverOne = [this, message, piece, next] {
      if (*next >= message.size()) return;
      const size_t end = std::min(message.size(), *next + piece);
      device.Deliver(Bytes(message.begin() + static_cast<long>(*next),
                           message.begin() + static_cast<long>(end)));
      *next = end;
    };
    device.onSend = [deliverOne](const Bytes&) { deliverOne(); };
    clock.onSleep = [deliverOne](uint32_t) { deliverOne(); };
  }

  TestDevice device;
  CountingClock clock;
};

}  // namespace kfw::test
