// torvane-bench-load: generates S-record files and times LoadFile on them, with the
// process's peak memory, one file per process so that the peak is the loader's own.
//   torvane-bench-load generate FILE START LENGTH   (hex START, decimal LENGTH in bytes)
//   torvane-bench-load load FILE [REPEAT]
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/UpgradeFile.h"
#include "image/MotFile.h"
#include "platform/TextFile.h"

namespace {

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int Usage()
{
    std::fprintf(stderr, "usage: torvane-bench-load generate FILE START LENGTH | load FILE [REPEAT]\n");
    return 2;
}

int Generate(const std::string& path, uint32_t start, uint32_t length)
{
    if (!bench::WriteS2File(path, start, length)) {
        std::fprintf(stderr, "torvane-bench-load: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}

int Load(const std::string& path, int repeat)
{
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0) {
        std::fprintf(stderr, "torvane-bench-load: cannot read %s\n", path.c_str());
        return 1;
    }
    const long baseKb = PeakKilobytes();
    CMotFile image;
    std::vector<double> seconds;
    int result = 0;
    try {
        for (int i = 0; i < repeat; ++i) {
            const auto start = std::chrono::steady_clock::now();
            result = image.LoadFile(path);
            seconds.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    } catch (const CFileException&) {
        std::fprintf(stderr, "torvane-bench-load: cannot read %s\n", path.c_str());
        return 1;
    }
    const long peakKb = PeakKilobytes();

    uint32_t pages = 0;
    uint32_t wrong = 0;
    uint8_t page[CLineImage::kSize];
    for (uint32_t index = 0; index < CMotFile::kPageCount; ++index) {
        if (!image.GetPage(page, index)) continue;
        ++pages;
        // Spot check: one byte a page against what the generator wrote.
        const uint32_t address = index * CLineImage::kSize + (index % CLineImage::kSize);
        if (page[index % CLineImage::kSize] != bench::ContentAt(address)) ++wrong;
    }
    std::sort(seconds.begin(), seconds.end());
    const double best = seconds.front();
    const double median = seconds[seconds.size() / 2];
    const double megabytes = static_cast<double>(info.st_size) / 1e6;
    const uint64_t modelBytes = uint64_t{CMotFile::kPageCount} * sizeof(void*) + uint64_t{pages} * 280;
    std::printf("file_bytes=%lld\n", static_cast<long long>(info.st_size));
    std::printf("end_record=%d\n", result);
    std::printf("pages=%u\n", pages);
    std::printf("wrong_pages=%u\n", wrong);
    std::printf("best_s=%.6f\n", best);
    std::printf("median_s=%.6f\n", median);
    std::printf("mb_per_s=%.1f\n", megabytes / best);
    std::printf("rss_base_kb=%ld\n", baseKb);
    std::printf("rss_peak_kb=%ld\n", peakKb);
    std::printf("rss_delta_kb=%ld\n", peakKb - baseKb);
    std::printf("model_kb=%llu\n", static_cast<unsigned long long>(modelBytes / 1024));
    // LoadFile reads through one buffer of the file's size, at least 4 KiB, at most 1 MiB.
    const long long bufferBytes =
        std::clamp<long long>(static_cast<long long>(info.st_size) + 1, 4096, 1 << 20);
    std::printf("buffer_kb=%lld\n", bufferBytes / 1024);
    return result == 1 && wrong == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return Usage();
    const std::string mode = argv[1];
    if (mode == "generate" && argc == 5)
        return Generate(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 16)),
                        static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)));
    if (mode == "load" && (argc == 3 || argc == 4))
        return Load(argv[2], argc == 4 ? std::max(1, std::atoi(argv[3])) : 1);
    return Usage();
}
