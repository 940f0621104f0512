// Many host threads at once: connects and disconnects race with ioctls and with closing and
// reopening the device, and host traffic with the periodic sender. Nothing may deadlock, crash or
// hand out a channel id twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/driver_under_test.h"

TEST(DeviceStress, ConnectDisconnectIoctlAndCloseFromManyThreads) {
    DriverUnderTest d;
    ASSERT_TRUE(LoadDriverWithVciSim(&d, "stress", "Orvex_J2534", kQuickProbeIni, nullptr));
    j2534::ULONG dev = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);

    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::mutex idsLock;
    std::vector<uint32_t> ids;

    auto connector = [&](uint32_t protocol) {
        for (int i = 0; i < 25; ++i) {
            j2534::ULONG ch = 0;
            int32_t rc = d.Connect(0, protocol, 0, 500000, &ch);
            if (rc == 0) {
                {
                    std::lock_guard<std::mutex> g(idsLock);
                    ids.push_back(ch);
                }
                rc = d.Disconnect(ch);
                // A close in between takes the channel (or the whole device) with it.
                if (rc != 0 && rc != 0x02 && rc != 0x08) ++unexpected;
            } else if (rc != 0x08) {
                ++unexpected;
            }
        }
    };
    auto ioctls = [&] {
        while (!stop) {
            j2534::ULONG out = 0;
            d.Ioctl(1, 3, nullptr, &out);
            char text[80];
            d.GetLastError(text);
        }
    };
    auto closer = [&] {
        for (int i = 0; i < 3; ++i) {
            platform::SleepMs(20);
            int32_t rc = d.Close(1);
            if (rc != 0 && rc != 0x08) ++unexpected;
            j2534::ULONG again = 0;
            rc = d.Open(nullptr, &again);
            if (rc != 0 && rc != 0x0E) ++unexpected;
        }
    };

    std::vector<std::thread> threads;
    threads.emplace_back(connector, 5u);
    threads.emplace_back(connector, 6u);
    threads.emplace_back(connector, 5u);
    threads.emplace_back(closer);
    std::thread ioctlThread(ioctls);
    for (std::thread& t : threads) t.join();
    stop = true;
    ioctlThread.join();

    EXPECT_EQ(unexpected.load(), 0);
    std::sort(ids.begin(), ids.end());
    EXPECT_TRUE(std::adjacent_find(ids.begin(), ids.end()) == ids.end()) << "a channel id was handed out twice";

    // The device is still usable and the id counter never went back.
    d.Close(0);
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    j2534::ULONG last = 0;
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &last), 0);
    if (!ids.empty()) {
        EXPECT_GT(last, ids.back());
    }
    EXPECT_EQ(d.Close(dev), 0);
    UnloadDriverCopy(&d);
}

// Writers and readers on the same channels while another thread disconnects and reconnects
// them: software ISO-TP hands the ECU's flow control from a reader to the waiting writer, and no
// call may crash, hang or use a channel that is gone.
TEST(DeviceStress, TrafficRacesWithDisconnect) {
    DriverUnderTest d;
    ASSERT_TRUE(LoadDriverWithVciSim(&d, "stress_traffic", "Orvex_J2534",
                                     kQuickProbeIni + "[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\n"
                                                      "ForceRawCan=1\nExclusiveDevice=0\n[Logging]\nLogEnabled=0\n",
                                     nullptr));
    j2534::ULONG dev = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    j2534::ULONG first = 0;
    ASSERT_EQ(d.Connect(dev, 6, 0, 500000, &first), 0);
    std::atomic<uint32_t> channel{static_cast<uint32_t>(first)};
    std::atomic<int> unexpected{0};
    std::atomic<bool> stop{false};

    auto writer = [&] {
        j2534::PASSTHRU_MSG m = {};
        m.ProtocolID = 6;
        m.TxFlags = 0x40;
        m.DataSize = 24;  // a write of a data identifier: first frame and consecutive frames
        const uint8_t head[] = {0, 0, 7, 0xE0, 0x2E, 0x12, 0x34};
        std::copy(head, head + sizeof head, m.Data);
        for (int i = 0; i < 40; ++i) {
            j2534::ULONG n = 1;
            int32_t rc = d.WriteMsgs(channel, &m, &n, 100);
            if (rc != 0 && rc != 0x02 && rc != 0x07) ++unexpected;
        }
    };
    auto reader = [&] {
        while (!stop) {
            j2534::PASSTHRU_MSG m = {};
            j2534::ULONG n = 1;
            int32_t rc = d.ReadMsgs(channel, &m, &n, 5);
            if (rc != 0 && rc != 0x02 && rc != 0x09) ++unexpected;
        }
    };
    auto reconnector = [&] {
        for (int i = 0; i < 5; ++i) {
            platform::SleepMs(30);
            d.Disconnect(channel);
            j2534::ULONG ch = 0;
            if (d.Connect(0, 6, 0, 500000, &ch) != 0) ++unexpected;
            channel = ch;
        }
    };
    std::thread r1(reader), r2(reader);
    std::thread w1(writer), w2(writer), c(reconnector);
    w1.join();
    w2.join();
    c.join();
    stop = true;
    r1.join();
    r2.join();
    EXPECT_EQ(unexpected.load(), 0);
    EXPECT_EQ(d.Close(0), 0);
    UnloadDriverCopy(&d);
}

// The periodic sender writes while host threads write, read, start and stop periodic messages and
// filters, clear them and change the channel's configuration on the same channel; then the device
// closes under the running sender.
TEST(DeviceStress, PeriodicSendsWithHostTrafficOnOneChannel) {
    DriverUnderTest d;
    ASSERT_TRUE(LoadDriverWithVciSim(&d, "stress_periodic", "Orvex_J2534", kQuickProbeIni + "[Logging]\nLogEnabled=0\n",
                                     nullptr));
    j2534::ULONG dev = 0, ch = 0;
    ASSERT_EQ(d.Open(nullptr, &dev), 0);
    ASSERT_EQ(d.Connect(dev, 5, 0, 500000, &ch), 0);
    auto frame = [](uint8_t id) {
        j2534::PASSTHRU_MSG m = {};
        m.ProtocolID = 5;
        m.DataSize = 6;
        m.Data[2] = 0x01;
        m.Data[3] = id;
        return m;
    };
    std::atomic<int> unexpected{0};
    std::atomic<bool> stop{false};
    auto expect = [&](int32_t rc, std::initializer_list<int32_t> allowed) {
        if (std::find(allowed.begin(), allowed.end(), rc) == allowed.end()) ++unexpected;
    };
    j2534::ULONG id = 0;
    j2534::PASSTHRU_MSG base = frame(0x20);
    expect(d.StartPeriodicMsg(ch, &base, &id, 5), {0});

    auto writer = [&] {
        j2534::PASSTHRU_MSG m = frame(0x30);
        for (int i = 0; i < 200; ++i) {
            j2534::ULONG n = 1;
            expect(d.WriteMsgs(ch, &m, &n, 0), {0});
        }
    };
    auto reader = [&] {
        while (!stop) {
            j2534::PASSTHRU_MSG m = {};
            j2534::ULONG n = 1;
            expect(d.ReadMsgs(ch, &m, &n, 2), {0, 0x09});
        }
    };
    auto changer = [&] {
        for (int i = 0; i < 40; ++i) {
            j2534::PASSTHRU_MSG m = frame(static_cast<uint8_t>(0x40 + i % 8));
            j2534::ULONG msgId = 0, filterId = 0;
            expect(d.StartPeriodicMsg(ch, &m, &msgId, 1 + i % 4), {0});
            j2534::PASSTHRU_MSG mask = frame(0), pattern = frame(0x50);
            expect(d.StartMsgFilter(ch, j2534::BLOCK_FILTER, &mask, &pattern, nullptr, &filterId), {0});
            j2534::SCONFIG config{j2534::DATA_RATE, 500000};
            j2534::SCONFIG_LIST list{1, &config};
            expect(d.Ioctl(ch, i % 2 ? j2534::SET_CONFIG : j2534::GET_CONFIG, &list, nullptr), {0});
            platform::SleepMs(3);
            expect(d.StopPeriodicMsg(ch, msgId), {0, 0x0D});
            expect(d.StopMsgFilter(ch, filterId), {0, 0x16});
            if (i % 10 == 9) {
                expect(d.Ioctl(ch, j2534::CLEAR_PERIODIC_MSGS, nullptr, nullptr), {0});
                expect(d.Ioctl(ch, j2534::CLEAR_MSG_FILTERS, nullptr, nullptr), {0});
                expect(d.StartPeriodicMsg(ch, &base, &id, 5), {0});
            }
        }
    };
    std::thread r(reader), w(writer), c1(changer), c2(changer);
    w.join();
    c1.join();
    c2.join();
    stop = true;
    r.join();
    EXPECT_EQ(unexpected.load(), 0);
    EXPECT_EQ(d.Close(dev), 0);  // the sender is still running
    UnloadDriverCopy(&d);
}
