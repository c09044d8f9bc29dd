// The simulated module on its own: what it answers to each command, how it checks program blocks
// as a real module would, what it keeps, and what each fault option does to its answers.
#include "sim/module.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kfw {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Command(uint8_t code, const Bytes& arguments, uint16_t company = 0x0021,
              uint8_t product = 0x0A) {
  Bytes message = {
      0xF0, 0x00, static_cast<uint8_t>(company >> 8), static_cast<uint8_t>(company & 0xFF), product,
      0x7F, code};
  message.insert(message.end(), arguments.begin(), arguments.end());
  message.push_back(0xF7);
  return message;
}

// A program block as the protocol lays it out; the length field and checksum can be spoiled.
Bytes Block(uint32_t number, const Bytes& data, int lengthField = -1, int checksumDelta = 0) {
  const uint32_t length =
      lengthField < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(lengthField);
  Bytes arguments = {
      static_cast<uint8_t>((number >> 7) & 0x7F), static_cast<uint8_t>(number & 0x7F),
      static_cast<uint8_t>((length >> 7) & 0x7F), static_cast<uint8_t>(length & 0x7F)};
  arguments.insert(arguments.end(), data.begin(), data.end());
  uint32_t sum = 0;
  for (uint8_t byte : arguments) sum += byte;
  sum += static_cast<uint32_t>(checksumDelta);
  arguments.push_back(static_cast<uint8_t>((sum >> 7) & 0x7F));
  arguments.push_back(static_cast<uint8_t>(sum & 0x7F));
  return Command(0x15, arguments);
}

// A reply as the default module frames it.
Bytes Reply(const Bytes& body) {
  Bytes message = {0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F};
  message.insert(message.end(), body.begin(), body.end());
  message.push_back(0xF7);
  return message;
}

Bytes DataOf(size_t size, uint8_t seed) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((seed + i * 13) & 0x7F);
  return data;
}

struct Emitted {
  Bytes bytes;
  uint64_t delay;
  bool operator==(const Emitted&) const = default;
};

void PrintTo(const Emitted& e, std::ostream* out) {
  *out << "{";
  for (uint8_t b : e.bytes) *out << std::hex << int(b) << " ";
  *out << "after " << std::dec << e.delay << " us}";
}

class Module : public testing::Test {
 protected:
  void Make(ModuleIdentity identity = {}, ModuleFaults faults = {}, ModuleTiming timing = {}) {
    module = std::make_unique<SimulatedModule>(identity, faults, timing);
    module->SetEmitter([this](Bytes bytes, uint64_t delay) {
      emitted.push_back({std::move(bytes), delay});
    });
  }
  void SetUp() override { Make(); }

  void Send(const Bytes& message) { module->Receive(message.data(), message.size()); }

  // Sends and returns what the module put on the way in answer.
  std::vector<Emitted> Answer(const Bytes& message) {
    emitted.clear();
    Send(message);
    return emitted;
  }

  // The block statuses the module answers a sequence of messages with.
  uint8_t BlockStatus(const Bytes& block) {
    const std::vector<Emitted> answer = Answer(block);
    if (answer.size() != 1 || answer[0].bytes.size() != 9) {
      ADD_FAILURE() << "no single block answer";
      return 0xFF;
    }
    return answer[0].bytes[7];
  }

  std::unique_ptr<SimulatedModule> module;
  std::vector<Emitted> emitted;
};

TEST_F(Module, AnswersEachCommandAfterItsWork) {
  ModuleTiming timing;
  timing.answerMicros = 700;
  timing.eraseMicros = 90000;
  timing.programBlockMicros = 4000;
  Make({}, {}, timing);
  EXPECT_EQ(Answer(Command(0x10, {0x02})), (std::vector<Emitted>{{Reply({0x10}), 700}}));
  EXPECT_EQ(Answer(Command(0x11, {})),
            (std::vector<Emitted>{{Reply(module->StatusReplyBody()), 700}}));
  EXPECT_EQ(Answer(Command(0x13, {0x00})), (std::vector<Emitted>{{Reply({0x14, 0x00}), 90000}}));
  EXPECT_EQ(Answer(Block(0, {1, 2, 3})), (std::vector<Emitted>{{Reply({0x16, 0x00}), 4000}}));
  // The final block only closes the image: the short answer time.
  EXPECT_EQ(Answer(Block(1, {})), (std::vector<Emitted>{{Reply({0x16, 0x00}), 700}}));
  EXPECT_TRUE(Answer(Command(0x17, {})).empty());  // an unknown command is not answered

  const std::vector<ModuleEvent> events = module->Events();
  ASSERT_EQ(events.size(), 6u);
  EXPECT_EQ(events[0].command, 0x10);
  EXPECT_EQ(events[0].argument, 0x02);
  EXPECT_EQ(events[3].blockNumber, 0u);
  EXPECT_EQ(events[3].blockLength, 3u);
  EXPECT_TRUE(events[4].answered);
  EXPECT_FALSE(events[5].answered);
  EXPECT_EQ(module->CountCommands(0x15), 2u);
}

TEST_F(Module, LaysOutItsStatusReplyWithSevenBitAndBytePairs) {
  ModuleIdentity identity;
  identity.state = 1;
  identity.versionMajor = 2;
  identity.versionMinor = 9;
  identity.blockSize = 300;
  identity.companyId = 0x0123;
  identity.productId = 0x45;
  identity.auxByte1 = 0x11;
  identity.auxByte2 = 0x22;
  identity.auxWord = 0x1234 & 0x3FFF;
  identity.serial = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  identity.productName = "QX";
  Make(identity);
  EXPECT_EQ(module->StatusReplyBody(),
            (Bytes{0x12, 0x01, 0x02, 0x09, 0x02, 0x2C, 0x01, 0x23, 0x45, 0x11, 0x22,
                   0x24, 0x34, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 'Q',  'X'}));
  // Its replies carry its own identifiers in the header.
  const std::vector<Emitted> answer = Answer(Command(0x10, {0}, 0x0123, 0x45));
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0].bytes, (Bytes{0xF0, 0x00, 0x01, 0x23, 0x45, 0x7F, 0x10, 0xF7}));
}

TEST_F(Module, ListensToItsOwnAddressAndToAnyModule) {
  const std::pair<Bytes, bool> cases[] = {
      {Command(0x10, {2}, 0x0021, 0x0A), true},
      {Command(0x10, {2}, 0x7F7F, 0x7F), true},
      {Command(0x10, {2}, 0x0022, 0x0A), false},
      {Command(0x10, {2}, 0x0021, 0x0B), false},
      {Command(0x10, {2}, 0x7F7F, 0x0A), false},
      {{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7F, 0x10, 0xF7}, false},  // one-byte manufacturer
      {{0xF0, 0x00, 0xF7}, false},                                      // too short
  };
  for (const auto& [message, answered] : cases) {
    EXPECT_EQ(Answer(message).size(), answered ? 1u : 0u);
  }
  EXPECT_EQ(module->Events().size(), 2u);
}

TEST_F(Module, ReadsCommandsAsTheyArriveOnTheWire) {
  const Bytes reset = Command(0x10, {2});
  // Byte by byte.
  for (uint8_t byte : reset) module->Receive(&byte, 1);
  EXPECT_EQ(module->CountCommands(0x10), 1u);
  // Real-time bytes anywhere, even inside the message.
  Send({0xF8, 0xF0, 0x00, 0xFE, 0x00, 0x21, 0x0A, 0x7F, 0xF8, 0x10, 0x02, 0xF7});
  EXPECT_EQ(module->CountCommands(0x10), 2u);
  // Another status byte breaks the message off; its F7 then ends nothing.
  Send({0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x10, 0x90, 0x02, 0xF7});
  EXPECT_EQ(module->CountCommands(0x10), 2u);
  // A new F0 starts over.
  Send({0xF0, 0x00, 0x00, 0xF0, 0x00, 0x00, 0x21, 0x0A, 0x7F, 0x10, 0x02, 0xF7});
  EXPECT_EQ(module->CountCommands(0x10), 3u);
}

TEST_F(Module, ProgramsBlocksInSequenceAndKeepsTheImage) {
  ModuleIdentity identity;
  identity.blockSize = 64;
  identity.state = 0;
  Make(identity);
  module->SetVersionAfterUpdate(3, 4);
  Send(Command(0x13, {0}));
  EXPECT_EQ(module->Identity().state, 1);  // nothing verified in an erased area
  const Bytes image = DataOf(150, 5);
  uint32_t number = 0;
  for (size_t offset = 0; offset < image.size(); offset += 64, ++number) {
    const size_t end = std::min(image.size(), offset + 64);
    EXPECT_EQ(BlockStatus(Block(number, Bytes(image.begin() + static_cast<long>(offset),
                                              image.begin() + static_cast<long>(end)))),
              0x00)
        << number;
  }
  EXPECT_EQ(module->Flash(), image);
  EXPECT_TRUE(module->ProgrammedImages().empty());
  EXPECT_EQ(BlockStatus(Block(number, {})), 0x00);
  EXPECT_EQ(module->ProgrammedImages(), std::vector<Bytes>{image});
  EXPECT_EQ(module->Identity().state, 0);
  EXPECT_EQ(module->Identity().versionMajor, 3);
  EXPECT_EQ(module->Identity().versionMinor, 4);
  // Programming is over: another block is out of sequence until the area is prepared again.
  EXPECT_EQ(BlockStatus(Block(0, {1})), 0x03);
  Send(Command(0x13, {0}));
  EXPECT_TRUE(module->Flash().empty());
  EXPECT_EQ(BlockStatus(Block(0, {1})), 0x00);
}

TEST_F(Module, FirmwareThatNamesItsVersionSetsIt) {
  Make();
  module->SetVersionAfterUpdate(9, 9);
  Send(Command(0x13, {0}));
  const Bytes firmware = {'Q', 'X', 'F', 'W', 5, 6, 0x11, 0x22};
  EXPECT_EQ(BlockStatus(Block(0, firmware)), 0x00);
  EXPECT_EQ(BlockStatus(Block(1, {})), 0x00);
  EXPECT_EQ(module->Identity().versionMajor, 5);
  EXPECT_EQ(module->Identity().versionMinor, 6);
}

TEST_F(Module, WithoutANewVersionKeepsItsOwn) {
  Send(Command(0x13, {0}));
  EXPECT_EQ(BlockStatus(Block(0, {1, 2})), 0x00);
  EXPECT_EQ(BlockStatus(Block(1, {})), 0x00);
  EXPECT_EQ(module->Identity().versionMajor, ModuleIdentity{}.versionMajor);
  EXPECT_EQ(module->Identity().versionMinor, ModuleIdentity{}.versionMinor);
}

TEST_F(Module, ChecksEveryBlockAsARealModuleDoes) {
  struct Case {
    const char* name;
    bool prepare;
    std::vector<Bytes> before;
    Bytes block;
    uint8_t status;
  };
  const Bytes four = {1, 2, 3, 4};
  const Case cases[] = {
      {"a good first block", true, {}, Block(0, four), 0x00},
      {"the checksum off by one", true, {}, Block(0, four, -1, 1), 0x01},
      {"the checksum's high byte off", true, {}, Block(0, four, -1, 128), 0x01},
      {"length field larger than the data", true, {}, Block(0, four, 5), 0x02},
      {"length field smaller than the data", true, {}, Block(0, four, 3), 0x02},
      {"too short to hold the numbers", true, {}, Command(0x15, {0x00, 0x00, 0x00}), 0x02},
      {"larger than the block size", true, {}, Block(0, DataOf(201, 1)), 0x08},
      {"exactly the block size", true, {}, Block(0, DataOf(200, 1)), 0x00},
      {"before the area is prepared", false, {}, Block(0, four), 0x03},
      {"the first block numbered 1", true, {}, Block(1, four), 0x03},
      {"a block repeated", true, {Block(0, four)}, Block(0, four), 0x03},
      {"a block skipped", true, {Block(0, four)}, Block(2, four), 0x03},
      {"the final block out of sequence", true, {Block(0, four)}, Block(0, {}), 0x03},
      {"a checksum over 14 bits goes out masked", true, {}, Block(0, Bytes(200, 0x7F)), 0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModuleIdentity identity;
    identity.blockSize = 200;
    Make(identity);
    if (c.prepare) Send(Command(0x13, {0}));
    for (const Bytes& earlier : c.before) Send(earlier);
    EXPECT_EQ(BlockStatus(c.block), c.status);
    EXPECT_EQ(module->Events().back().blockStatus, c.status);
    if (c.status != 0) {
      // A refused block is not kept.
      EXPECT_EQ(module->Flash().size(), 4 * c.before.size());
    }
  }
}

TEST_F(Module, ResetZeroAbandonsAnImageBeingProgrammed) {
  Send(Command(0x13, {0}));
  EXPECT_EQ(BlockStatus(Block(0, {1})), 0x00);
  Send(Command(0x10, {2}));  // any other reset leaves it
  EXPECT_EQ(BlockStatus(Block(1, {2})), 0x00);
  Send(Command(0x10, {0}));
  EXPECT_EQ(BlockStatus(Block(2, {3})), 0x03);
}

// ---- Faults -----------------------------------------------------------------------------------

TEST_F(Module, SilentAnswersNothingButStillActs) {
  ModuleFaults faults;
  faults.silent = true;
  Make({}, faults);
  for (const Bytes& message :
       {Command(0x10, {2}), Command(0x11, {}), Command(0x13, {0}), Block(0, {1, 2})}) {
    EXPECT_TRUE(Answer(message).empty());
  }
  EXPECT_EQ(module->Events().size(), 4u);
  for (const ModuleEvent& event : module->Events()) EXPECT_FALSE(event.answered);
  EXPECT_EQ(module->Flash(), (Bytes{1, 2}));
}

TEST_F(Module, CanIgnoreStatusRequestsOrTheFirstResets) {
  ModuleFaults faults;
  faults.ignoreStatusRequests = true;
  faults.ignoreFirstResets = 2;
  Make({}, faults);
  EXPECT_TRUE(Answer(Command(0x11, {})).empty());
  EXPECT_TRUE(Answer(Command(0x10, {2})).empty());
  EXPECT_TRUE(Answer(Command(0x10, {2})).empty());
  EXPECT_EQ(Answer(Command(0x10, {2})).size(), 1u);
  EXPECT_TRUE(Answer(Command(0x11, {})).empty());
  EXPECT_EQ(Answer(Command(0x13, {0})).size(), 1u);
}

TEST_F(Module, DelaysDuplicatesAndPadsRepliesOnRequest) {
  ModuleFaults faults;
  faults.extraReplyDelayMicros = 5000;
  faults.duplicateReplies = true;
  faults.paddingInReplies = 2;
  Make({}, faults);
  const Emitted reply = {Reply({0x10, 0x00, 0x00}), 1000 + 5000};
  EXPECT_EQ(Answer(Command(0x10, {2})), (std::vector<Emitted>{reply, reply}));
}

TEST_F(Module, SendsUnrelatedRepliesBeforeTheAnswerItIsAskedTo) {
  ModuleFaults faults;
  faults.unrelatedBeforePrepareAnswer = true;
  faults.unrelatedBeforeBlock = 1;
  Make({}, faults);
  const Bytes status = Reply(module->StatusReplyBody());
  std::vector<Emitted> answer = Answer(Command(0x13, {0}));
  ASSERT_EQ(answer.size(), 3u);
  EXPECT_EQ(answer[0].bytes, Reply({0x10}));
  EXPECT_EQ(answer[1].bytes.size(), status.size());  // the status of the erased area
  EXPECT_EQ(answer[1].bytes[6], 0x12);
  EXPECT_EQ(answer[2].bytes, Reply({0x14, 0x00}));
  EXPECT_EQ(Answer(Block(0, {1})).size(), 1u);
  answer = Answer(Block(1, {2}));
  ASSERT_EQ(answer.size(), 3u);
  EXPECT_EQ(answer[0].bytes, Reply({0x10}));
  EXPECT_EQ(answer[1].bytes[6], 0x12);
  EXPECT_EQ(answer[2].bytes, Reply({0x16, 0x00}));
}

TEST_F(Module, FailsTheEraseOnRequestAndKeepsWhatItHeld) {
  ModuleFaults faults;
  Make({}, faults);
  Send(Command(0x13, {0}));
  Send(Block(0, {7, 8}));
  Send(Block(1, {}));
  faults.eraseResult = 1;
  module->SetFaults(faults);
  EXPECT_EQ(Answer(Command(0x13, {0})), (std::vector<Emitted>{{Reply({0x14, 0x01}), 200000}}));
  EXPECT_EQ(module->Flash(), (Bytes{7, 8}));
  EXPECT_EQ(module->Identity().state, 0);
  EXPECT_EQ(BlockStatus(Block(0, {1})), 0x03);
}

TEST_F(Module, RefusesTheChosenBlockWithTheChosenStatus) {
  for (uint8_t status : {1, 2, 3, 4, 5, 6, 8, 9}) {
    ModuleFaults faults;
    faults.rejectBlock = 1;
    faults.rejectStatus = status;
    Make({}, faults);
    Send(Command(0x13, {0}));
    EXPECT_EQ(BlockStatus(Block(0, {1})), 0x00);
    EXPECT_EQ(BlockStatus(Block(1, {2})), status);
    EXPECT_EQ(module->Flash(), Bytes{1});
  }
}

TEST_F(Module, BreaksItsStatusReplyWhereItIsAsked) {
  const Bytes body = SimulatedModule().StatusReplyBody();
  auto with = [&](std::vector<std::pair<size_t, uint8_t>> inserts) {
    // Positions count the bytes of the reply as it would be without the inserts.
    Bytes broken;
    for (size_t i = 0; i <= body.size(); ++i) {
      for (const auto& [at, byte] : inserts) {
        if (at == i) broken.push_back(byte);
      }
      if (i < body.size()) broken.push_back(body[i]);
    }
    return Reply(broken);
  };
  struct Case {
    std::optional<uint32_t> statusAt;
    std::optional<uint32_t> f0At;
    Bytes expected;
  };
  const Case cases[] = {
      {3, {}, with({{3, 0x90}})},           {{}, 5, with({{5, 0xF0}})},
      {3, 5, with({{3, 0x90}, {5, 0xF0}})}, {5, 3, with({{3, 0xF0}, {5, 0x90}})},
      {0, 7, with({{0, 0x90}, {7, 0xF0}})},
  };
  for (const Case& c : cases) {
    ModuleFaults faults;
    faults.statusByteInStatusReply = c.statusAt;
    faults.secondF0InStatusReply = c.f0At;
    Make({}, faults);
    const std::vector<Emitted> answer = Answer(Command(0x11, {}));
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].bytes, c.expected)
        << "status byte at " << c.statusAt.value_or(999) << ", F0 at " << c.f0At.value_or(999);
  }
}

TEST_F(Module, WrapsRepliesInNoiseOnRequest) {
  ModuleFaults faults;
  faults.noise = true;
  Make({}, faults);
  const std::vector<Emitted> answer = Answer(Command(0x10, {2}));
  ASSERT_EQ(answer.size(), 2u);
  EXPECT_EQ(answer[0].bytes, (Bytes{0xFE, 0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0xF7, 0xF8}));
  EXPECT_EQ(answer[1].bytes, (Bytes{0xF0, 0x00, 0x00, 0xF8, 0x21, 0x0A, 0x7F, 0x10, 0xF7}));
  EXPECT_EQ(answer[0].delay, answer[1].delay);
}

TEST_F(Module, TellsTheObserverAfterEveryCommand) {
  std::vector<uint8_t> seen;
  module->SetObserver([&](const ModuleEvent& event) { seen.push_back(event.command); });
  Send(Command(0x10, {2}));
  Send(Command(0x11, {}));
  Send(Command(0x10, {2}, 0x0022, 0x0A));  // not for us: no event
  EXPECT_EQ(seen, (std::vector<uint8_t>{0x10, 0x11}));
}

}  // namespace
}  // namespace kfw
