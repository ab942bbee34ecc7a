#include "proxy/linux/Wpad.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using OrnUtil::proxy::WpadCandidates;
using testing::ElementsAre;

namespace {

TEST(WpadCandidates, TheBareNameThenTheDomainAndItsParentsOfTwoLabelsOrMore) {
    EXPECT_THAT(WpadCandidates("pc7.lab.corp.example", {"ignored.test"}),
                ElementsAre("http://wpad/wpad.dat", "http://wpad.lab.corp.example/wpad.dat",
                            "http://wpad.corp.example/wpad.dat"));
    EXPECT_THAT(WpadCandidates("pc7.example", {}), ElementsAre("http://wpad/wpad.dat"))
        << "never wpad.<top-level domain>";
}

TEST(WpadCandidates, SearchDomainsStandInForAHostNameWithoutDomain) {
    EXPECT_THAT(WpadCandidates("pc7", {"a.corp.test", "corp.test.", "bad..name", "x"}),
                ElementsAre("http://wpad/wpad.dat", "http://wpad.a.corp.test/wpad.dat",
                            "http://wpad.corp.test/wpad.dat"));
    EXPECT_THAT(WpadCandidates("", {}), ElementsAre("http://wpad/wpad.dat"));
    EXPECT_THAT(WpadCandidates("pc.bad/name.test", {}), ElementsAre("http://wpad/wpad.dat"));
}

} // namespace
