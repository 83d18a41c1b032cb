// The records server under load, driven by bench/records-server:
//   write JOURNAL URL COUNT  COUNT attempts, each recorded and then sent (as program does)
//   fill JOURNAL COUNT       COUNT attempts recorded, none sent (a backlog)
//   drain JOURNAL URL        the backlog sent; prints the rows sent and the milliseconds
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "records/RecordStore.h"
#include "records/server/RecordsSender.h"

namespace {

bool Record(CRecordStore& store, int n)
{
    CAttempt a;
    a.command = "program";
    a.port = "/dev/ttyUSB" + std::to_string(n % 4);
    a.fileName = "/srv/line/panel-upgrade.mot";
    a.fileSize = 262144;
    a.fileSha256 = std::string(64, 'c');
    a.tag = "bench";
    if (!store.Begin(a)) return false;
    a.outcome = outcome::kPass;
    a.exitCode = 0;
    a.pagesSent = 512;
    a.serialText = "PNL-" + std::to_string(n);
    a.messages = {"ID check OK.", "Erase OK.", "Program OK.", "Verify OK."};
    return store.Complete(a);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: write JOURNAL URL COUNT | fill JOURNAL COUNT | drain JOURNAL URL\n");
        return 2;
    }
    const std::string mode = argv[1];
    std::string error;
    auto store = CRecordStore::Open(platform::CPath::FromUtf8(argv[2]), RecordsFile::Named, error);
    if (!store) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    if (mode == "fill") {
        for (int n = 0; n < std::atoi(argv[3]); ++n)
            if (!Record(*store, n)) return 1;
        return 0;
    }
    CServerSink sink(argv[3]);
    if (mode == "write") {
        for (int n = 0; n < std::atoi(argv[4]); ++n) {
            if (!Record(*store, n)) return 1;
            const SendReport report =
                sink.SendBacklog(*store, std::chrono::steady_clock::now() + std::chrono::seconds(30));
            if (!report.problem.empty()) {
                std::fprintf(stderr, "%s\n", report.problem.c_str());
                return 1;
            }
        }
        return 0;
    }
    const SendReport report = sink.SendBacklog(*store, std::chrono::steady_clock::time_point::max());
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    std::printf("%lld %lld\n", static_cast<long long>(report.sent), static_cast<long long>(ms));
    return report.waiting == 0 ? 0 : 1;
}
