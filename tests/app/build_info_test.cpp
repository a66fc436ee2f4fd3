// The build information list of the about box.
#include "app/build_info.h"

#include <QtTest>

class BuildInfoTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void sizesUseMegabytesFrom1024KB_data() {
        QTest::addColumn<qulonglong>("kb");
        QTest::addColumn<qulonglong>("value");
        QTest::addColumn<QString>("unit");
        QTest::newRow("0") << 0ull << 0ull << "KB";
        QTest::newRow("1023 KB") << 1023ull << 1023ull << "KB";
        QTest::newRow("1024 KB") << 1024ull << 1ull << "MB";
        QTest::newRow("2047 KB truncates") << 2047ull << 1ull << "MB";
        QTest::newRow("16 GB") << 16777216ull << 16384ull << "MB";
    }
    void sizesUseMegabytesFrom1024KB() {
        QFETCH(qulonglong, kb);
        const SizeText s = SizeInUnits(kb);
        QTEST(qulonglong(s.value), "value");
        QTEST(QString::fromStdString(s.unit), "unit");
    }

    void theLinesFollowTheListsOrderAndFormats() {
        SystemFacts f;
        f.buildDate = "Jan  2 2025 03:04:05";
        f.releaseBuild = true;
        f.processor = "Test CPU";
        f.memoryLoad = 37;
        f.totalPhysicalKB = 8 * 1024 * 1024;
        f.availablePhysicalKB = 5000;
        f.totalPagingKB = 512;
        f.availablePagingKB = 0;
        f.tempFreeKB = 123456;
        f.bitsPerPixel = 8;
        f.storedDepth = 8;
        f.screenWidth = 1600;
        f.screenHeight = 1000;
        f.osName = "Linux";
        f.osMajor = 6;
        f.osMinor = 1;
        f.osInfo = "Debian GNU/Linux 12 (bookworm)";
        const std::vector<std::string> expected = {
            " Build Date:\t\tJan  2 2025 03:04:05",
            " Build Mode:\t\tRelease",
            " Target Processor\t\tTest CPU",
            "Memory / Drive Status:",
            " Memory Load Index\t37 pcnt.",
            " Total Physical Memory\t8192MB",
            " Available Physical Memory\t4MB",
            " Total Paging Memory\t512KB",
            " Available Paging Memory\t0KB",
            " Temp Drive Free Space\t120MB",
            "Video Driver Information:",
            " Bits Per Pixel\t\t8",
            " Number of Colors\t\t256",
            " DIB Output\t\t8BPP",
            " Palette Size\t\t256",
            " Resolution\t\t1600 x 1000",
            "Operating System Information:",
            " Operating System\t\tLinux",
            " Version\t\t\t6.1",
            " Additional Info\t\tDebian GNU/Linux 12 (bookworm)",
        };
        QCOMPARE(BuildInformationLines(f), expected);
    }

    void aTrueColourScreenHasNoPalette() {
        SystemFacts f;
        f.bitsPerPixel = 24;
        f.storedDepth = 24;
        f.releaseBuild = false;
        const std::vector<std::string> lines = BuildInformationLines(f);
        QCOMPARE(lines[1], std::string(" Build Mode:\t\tDebug"));
        QCOMPARE(lines[12], std::string(" Number of Colors\t\t16777216"));
        QCOMPARE(lines[13], std::string(" DIB Output\t\t24BPP"));
        QCOMPARE(lines[14], std::string(" Palette Size\t\tNon-Paletted"));
    }

    void parsesTheSystemsFiles() {
        const char* meminfo =
            "MemTotal:       16318484 kB\nMemFree:  100 kB\nMemAvailable:   9000 kB\n";
        QCOMPARE(MeminfoField(meminfo, "MemTotal"), 16318484ull);
        QCOMPARE(MeminfoField(meminfo, "MemAvailable"), 9000ull);
        QCOMPARE(MeminfoField(meminfo, "SwapTotal"), 0ull);
        QCOMPARE(MeminfoField(meminfo, "Mem"), 0ull);
        const char* cpuinfo =
            "processor\t: 0\nmodel name\t: AMD Test 1\nprocessor\t: 1\nmodel name\t: AMD Test 2\n";
        QCOMPARE(CpuModelName(cpuinfo), std::string("AMD Test 1"));
        QCOMPARE(CpuModelName("processor : 0\n"), std::string());
        QCOMPARE(OsPrettyName("NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
                 std::string("Debian GNU/Linux 12 (bookworm)"));
        QCOMPARE(OsPrettyName("PRETTY_NAME=Plain\n"), std::string("Plain"));
        QCOMPARE(OsPrettyName("NAME=x\n"), std::string());
        int major = -1, minor = -1;
        QVERIFY(ParseKernelVersion("6.1.0-18-amd64", &major, &minor));
        QCOMPARE(major, 6);
        QCOMPARE(minor, 1);
        QVERIFY(ParseKernelVersion("5.15", &major, &minor));
        QCOMPARE(minor, 15);
        QVERIFY(!ParseKernelVersion("abc", &major, &minor));
        QVERIFY(!ParseKernelVersion("6", &major, &minor));
    }

    void gatheredFactsAreThoseOfThisMachine() {
        const SystemFacts f = GatherSystemFacts(16, 24, 800, 600);
        QCOMPARE(f.bitsPerPixel, 16);
        QCOMPARE(f.storedDepth, 24);
        QCOMPARE(f.screenWidth, 800);
        QVERIFY(f.totalPhysicalKB > 0);
        QVERIFY(f.availablePhysicalKB <= f.totalPhysicalKB);
        QVERIFY(f.memoryLoad <= 100);
        QCOMPARE(f.osName, std::string("Linux"));
        QVERIFY(!f.processor.empty());
        QVERIFY(!f.buildDate.empty());
    }
};

QTEST_MAIN(BuildInfoTest)
#include "build_info_test.moc"
