#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "SimOptions.h"

namespace {

TParsedOptions Parse(const std::vector<std::string_view>& args) {
    return ParseOptions(args);
}

struct TGoodCase {
    std::vector<std::string_view> Args;
    std::function<bool(const TSimOptions&)> Check;
};

TEST(SimOptionsTest, DefaultsWithoutOptions) {
    const TParsedOptions parsed = Parse({});
    ASSERT_EQ(parsed.Error, "");
    const TSimOptions& o = parsed.Options;
    EXPECT_EQ(o.Device.Address, 1);
    EXPECT_EQ(o.Device.DeviceType, 0x0003);
    EXPECT_FALSE(o.Device.ForcedException);
    EXPECT_FALSE(o.Faults.Echo);
    EXPECT_EQ(o.Faults.NoiseBytes, 0U);
    EXPECT_EQ(o.Faults.DelayMs, 0U);
    EXPECT_EQ(o.Faults.Pieces, 1U);
    EXPECT_EQ(o.Faults.GapMs, 20U);
    EXPECT_FALSE(o.Faults.WrongAddress);
    EXPECT_FALSE(o.Faults.BadCrc);
    EXPECT_FALSE(o.Faults.Silent);
    EXPECT_EQ(o.LinkPath, "");
    EXPECT_FALSE(o.Verbose);
    EXPECT_FALSE(o.Help);
}

TEST(SimOptionsTest, TakesEveryOption) {
    const TGoodCase cases[] = {
        {{"--address", "17"}, [](const TSimOptions& o) { return o.Device.Address == 17; }},
        {{"--address", "0x11"}, [](const TSimOptions& o) { return o.Device.Address == 17; }},
        {{"--address=247"}, [](const TSimOptions& o) { return o.Device.Address == 247; }},
        {{"--address", "1"}, [](const TSimOptions& o) { return o.Device.Address == 1; }},
        {{"--device-type", "0xBEEF"},
         [](const TSimOptions& o) { return o.Device.DeviceType == 0xBEEF; }},
        {{"--device-type", "0"}, [](const TSimOptions& o) { return o.Device.DeviceType == 0; }},
        {{"--device-type", "65535"},
         [](const TSimOptions& o) { return o.Device.DeviceType == 0xFFFF; }},
        {{"--exception", "4"},
         [](const TSimOptions& o) { return o.Device.ForcedException == uint8_t{4}; }},
        {{"--echo"}, [](const TSimOptions& o) { return o.Faults.Echo; }},
        {{"--noise", "2000"}, [](const TSimOptions& o) { return o.Faults.NoiseBytes == 2000; }},
        {{"--noise", "0x10"}, [](const TSimOptions& o) { return o.Faults.NoiseBytes == 16; }},
        {{"--delay", "150"}, [](const TSimOptions& o) { return o.Faults.DelayMs == 150; }},
        {{"--pieces", "4", "--gap", "15"},
         [](const TSimOptions& o) { return o.Faults.Pieces == 4 && o.Faults.GapMs == 15; }},
        {{"--gap", "0"}, [](const TSimOptions& o) { return o.Faults.GapMs == 0; }},
        {{"--wrong-address"}, [](const TSimOptions& o) { return o.Faults.WrongAddress; }},
        {{"--bad-crc"}, [](const TSimOptions& o) { return o.Faults.BadCrc; }},
        {{"--silent"}, [](const TSimOptions& o) { return o.Faults.Silent; }},
        {{"--verbose"}, [](const TSimOptions& o) { return o.Verbose; }},
        {{"--help"}, [](const TSimOptions& o) { return o.Help; }},
        {{"-h"}, [](const TSimOptions& o) { return o.Help; }},
        {{"--link", "/tmp/modbus-port"},
         [](const TSimOptions& o) { return o.LinkPath == "/tmp/modbus-port"; }},
        {{"--link=/tmp/a=b"}, [](const TSimOptions& o) { return o.LinkPath == "/tmp/a=b"; }},
        {{"--echo", "--address", "9", "--noise", "5", "--verbose"},
         [](const TSimOptions& o) {
             return o.Faults.Echo && o.Device.Address == 9 && o.Faults.NoiseBytes == 5 &&
                    o.Verbose && !o.Faults.Silent;
         }},
        {{"--address", "5", "--address", "6"},
         [](const TSimOptions& o) { return o.Device.Address == 6; }},
        {{"--slave", "3@19200", "--slave=0x11", "--slave", "3@9600", "--slave", "200@14400"},
         [](const TSimOptions& o) {
             return o.Slaves == std::vector<TSlaveSetup>{
                                    {3, 19200}, {17, std::nullopt}, {3, 9600}, {200, 14400}};
         }},
    };
    for (const TGoodCase& test : cases) {
        const TParsedOptions parsed = Parse(test.Args);
        EXPECT_EQ(parsed.Error, "") << test.Args[0];
        EXPECT_TRUE(test.Check(parsed.Options)) << test.Args[0] << " " << test.Args.back();
    }
}

struct TBadCase {
    std::vector<std::string_view> Args;
    std::string_view Message;
};

TEST(SimOptionsTest, RefusesBadValuesWithAReason) {
    const TBadCase cases[] = {
        {{"--address", "0"}, "--address: '0' is not a number from 1 to 247"},
        {{"--address", "248"}, "from 1 to 247"},
        {{"--address", "0x100"}, "from 1 to 247"},
        {{"--address", "abc"}, "'abc' is not a number"},
        {{"--address", "-1"}, "'-1' is not a number"},
        {{"--address", "1.5"}, "is not a number"},
        {{"--address", "0x"}, "is not a number"},
        {{"--address", ""}, "is not a number"},
        {{"--address", "99999999999999999999"}, "is not a number"},
        {{"--address="}, "is not a number"},
        {{"--address"}, "--address needs a value"},
        {{"--device-type", "0x10000"}, "from 0 to 65535"},
        {{"--exception", "0"}, "from 1 to 255"},
        {{"--exception", "256"}, "from 1 to 255"},
        {{"--pieces", "0"}, "from 1 to 256"},
        {{"--noise", "100001"}, "from 0 to 100000"},
        {{"--delay", "60001"}, "from 0 to 60000"},
        {{"--gap", "x"}, "is not a number"},
        {{"--link"}, "--link needs a path"},
        {{"--link="}, "--link needs a path"},
        {{"--echo=1"}, "--echo takes no value"},
        {{"--colour"}, "unknown option '--colour'"},
        {{"/dev/ttyS0"}, "unknown option '/dev/ttyS0'"},
        {{"--echo", "--bogus", "--silent"}, "unknown option '--bogus'"},
        {{"--slave", "248@9600"},
         "--slave: '248@9600' does not start with an address from 1 to 247"},
        {{"--slave", "5@"}, "--slave: '5@' needs a speed from 1 to 4000000 after @"},
        {{"--slave", "5@9600@1"}, "needs a speed"},
        {{"--slave"}, "--slave needs ADDRESS or ADDRESS@BAUD"},
        {{"--slave", "5@9600", "--slave", "5@9600"},
         "--slave 5@9600: address 5 already answers at that speed"},
        {{"--slave", "5", "--slave", "5@9600"}, "address 5 already answers"},
        {{"--slave", "5", "--address", "5"}, "--address and --slave do not go together"},
    };
    for (const TBadCase& test : cases) {
        const TParsedOptions parsed = Parse(test.Args);
        EXPECT_NE(parsed.Error.find(test.Message), std::string::npos)
            << test.Args[0] << ": " << parsed.Error;
    }
}

// Faults: a line without a slave, or one that loses the address of --address.
TEST(SimOptionsTest, LineSlavesAreTheSlaveOptionsOrTheOneAddress) {
    EXPECT_EQ(LineSlaves(Parse({"--address", "9"}).Options),
              (std::vector<TSlaveSetup>{{9, std::nullopt}}));
    EXPECT_EQ(LineSlaves(Parse({"--slave", "4@2400", "--slave", "8"}).Options),
              (std::vector<TSlaveSetup>{{4, 2400}, {8, std::nullopt}}));
}

TEST(SimOptionsTest, HelpExplainsOptionsRegistersAndFunctionCodes) {
    const std::string_view help = HelpText();
    const std::string_view topics[] = {
        "--address", "--device-type", "--slave",       "@BAUD",       "--echo",
        "--noise",   "--delay",       "--pieces",      "--gap",       "--wrong-address",
        "--bad-crc", "--silent",      "--exception",   "--link",      "--verbose",
        "--help",    "0x0000-0x8FFF", "0x0000-0x00FF", "sin(",        "0x1000 + its address",
        "File 6",    "broadcast",     "\n  3, 4 ",     "\n  6 ",      "\n  16 ",
        "\n  20 ",   "\n  69 ",       "\n  70, 71 ",   "exception 1",
    };
    for (const std::string_view topic : topics) {
        EXPECT_NE(help.find(topic), std::string_view::npos) << topic;
    }
}

}  // namespace
