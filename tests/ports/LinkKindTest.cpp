// A kind of link the console does not have, made in the test and added to a real port
// through AddLink: the port object serves it as it serves its own kinds.
#include <gtest/gtest.h>

#include <algorithm>

#include "links/LinkWaits.h"
#include "links/PortSide.h"
#include "support/Console.h"

using namespace qlntest;

namespace {

// Takes every chunk and gives it back to the application reversed, as if a peer had
// answered; the second chunk it is offered it holds back once, to see the port offer
// it again.
class ReversingLink : public CNetObject {
public:
    explicit ReversingLink(PortSide& port) : CNetObject(NetKind::TcpClient, port) {}

    Failure Start() override { return {}; }
    int32_t Serve(const uint8_t* chunk, uint32_t length, ChunkAnswer& answer) override
    {
        if (!chunk || Taken)
            return 0;
        if (++Offers == 2 && !HeldOnce) {
            HeldOnce = true;
            answer.Held = true;
            return 0;
        }
        answer.Delivered = true;
        std::vector<uint8_t> back(chunk, chunk + length);
        std::reverse(back.begin(), back.end());
        Port.FromNet(back.data(), back.size(), From);
        Taken = true;
        return 1;
    }
    void ChunkDone(const uint8_t*, uint32_t) override { Taken = false; }
    void ArmWaits(LinkWaits&) override {}
    bool WantsChunkAgain() const override { return HeldOnce && !Taken; }
    void Close() override {}
    std::string Label() const override { return "reversing"; }

private:
    OriginRef From = MakeOrigin("reversing", "");
    bool Taken = false;
    bool HeldOnce = false;
    int Offers = 0;
};

TEST(LinkKindTest, ANewKindIsServedWithoutAnyChangeToThePort)
{
    Console console;
    CNetObject* link =
        console.Port->AddLink([](PortSide& port) { return std::make_unique<ReversingLink>(port); }).Link;
    ASSERT_NE(link, nullptr);
    for (const std::string text : {"abc", "hello"}) {
        ASSERT_TRUE(console.Application->WriteAll(std::vector<uint8_t>(text.begin(), text.end())));
        const auto back = console.Application->ReadExactly(text.size());
        EXPECT_EQ(std::string(back.begin(), back.end()), std::string(text.rbegin(), text.rend()));
    }
    console.Port->RemoveLink(link);
    EXPECT_TRUE(console.Port->GetNetLinks().empty());
}

} // namespace
