// Times the phases of a motif search on random-walk series generated here from a fixed seed.
//
//   bench_phases search [options]   one PatternMiner run over a word set, as a whole
//   bench_phases miner [options]    each phase of Miner over a series set
//
// Options (all "--name value"): --series --points --seglen --alphabet --minsup --min-len
// --max-len --max-overlap --seed, --raw 1 (search: words of the series as they are, not
// normalised), --words W1,W2,... (search: these words instead of random walks'),
// and --k for miner. The figures are printed, never checked. Only the
// library's public operations are used, so the same file builds against earlier versions of
// the core for before-and-after figures (bench/compare.py).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "miner.h"
#include "motif.h"
#include "patterns.h"
#include "sax.h"

namespace {

const char* const usage =
    "usage: bench_phases (search | miner) [--series N] [--points P] [--seglen S]\n"
    "           [--alphabet A] [--minsup M] [--min-len 3] [--max-len 0] [--max-overlap 0.9]\n"
    "           [--seed 42] [--raw 0 (search)] [--words W1,W2,... (search)]\n"
    "           [--k 0 (miner)]\n"
    "defaults: 1000 series, 10000 points, seglen 10, alphabet 6, minsup 0.5\n";

struct Options {
    std::string command;
    int series = 1000;
    int points = 10000;
    int seglen = 10;
    int alphabet = 6;
    double minsup = 0.5;
    int min_len = 3;
    int max_len = 0;
    double max_overlap = 0.9;
    int k = 0;
    bool raw = false;
    std::string words;  // comma-separated, in place of the random walks' words
    unsigned long long seed = 42;
};

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "bench_phases: %s\n%s", message.c_str(), usage);
    std::exit(2);
}

int parse_int(const std::string& name, const std::string& text) {
    size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size()) {
        usage_error("--" + name + " needs an integer, got '" + text + "'");
    }
    return value;
}

double parse_double(const std::string& name, const std::string& text) {
    size_t used = 0;
    double value = 0.0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size()) {
        usage_error("--" + name + " needs a number, got '" + text + "'");
    }
    return value;
}

void set_option(Options& options, const std::string& name, const std::string& value) {
    if (name == "series") {
        options.series = parse_int(name, value);
    } else if (name == "points") {
        options.points = parse_int(name, value);
    } else if (name == "seglen") {
        options.seglen = parse_int(name, value);
    } else if (name == "alphabet") {
        options.alphabet = parse_int(name, value);
    } else if (name == "minsup") {
        options.minsup = parse_double(name, value);
    } else if (name == "min-len") {
        options.min_len = parse_int(name, value);
    } else if (name == "max-len") {
        options.max_len = parse_int(name, value);
    } else if (name == "max-overlap") {
        options.max_overlap = parse_double(name, value);
    } else if (name == "k" && options.command == "miner") {
        options.k = parse_int(name, value);
    } else if (name == "raw" && options.command != "miner") {
        options.raw = parse_int(name, value) != 0;
    } else if (name == "words" && options.command != "miner") {
        options.words = value;
    } else if (name == "seed") {
        options.seed = static_cast<unsigned long long>(parse_int(name, value));
    } else {
        usage_error("unknown option --" + name + " for " + options.command);
    }
}

Options parse(int argc, char** argv) {
    if (argc < 2) {
        usage_error("missing subcommand");
    }
    Options options;
    options.command = argv[1];
    if (options.command != "search" && options.command != "miner") {
        usage_error("unknown subcommand '" + options.command + "'");
    }
    for (int i = 2; i < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag.rfind("--", 0) != 0 || i + 1 >= argc) {
            usage_error("expected --name value, got '" + flag + "'");
        }
        set_option(options, flag.substr(2), argv[i + 1]);
    }
    if (options.series < 0 || options.points < 0 || options.seglen < 1) {
        usage_error("--series and --points must not be negative, and --seglen must be positive");
    }
    return options;
}

// Random walks with standard Gaussian steps, each starting at 0; the same seed gives the same
// set on the same standard library.
zorp::SeriesSet random_walks(const Options& options) {
    std::mt19937_64 engine(options.seed);
    std::normal_distribution<double> step(0.0, 1.0);
    zorp::SeriesSet ts(static_cast<size_t>(options.series));
    for (zorp::Series& series : ts) {
        series.resize(static_cast<size_t>(options.points));
        double level = 0.0;
        for (double& value : series) {
            level += step(engine);
            value = level;
        }
    }
    return ts;
}

using Clock = std::chrono::steady_clock;

template <typename Work>
double seconds_of(Work&& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ru_maxrss is in KiB on Linux.
double peak_rss_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void print_parameters(const Options& options) {
    if (!options.words.empty()) {
        std::printf("%s: the words %s, minsup %g, min_len %d, max_len %d, max_overlap %g\n",
                    options.command.c_str(), options.words.c_str(), options.minsup, options.min_len,
                    options.max_len, options.max_overlap);
        return;
    }
    std::printf(
        "%s: %d series x %d points (seed %llu), seglen %d, alphabet %d, minsup %g, "
        "min_len %d, max_len %d, max_overlap %g",
        options.command.c_str(), options.series, options.points, options.seed, options.seglen,
        options.alphabet, options.minsup, options.min_len, options.max_len, options.max_overlap);
    if (options.command == "miner") {
        std::printf(", k %d", options.k);
    } else if (options.raw) {
        std::printf(", not normalised");
    }
    std::printf("\n");
}

double mebibytes(double bytes) {
    return bytes / double(size_t{1} << 20);
}

void print_phase(const std::string& name, double seconds, const std::string& note = "") {
    std::printf("  %-18s %10.3f s%s%s\n", name.c_str(), seconds, note.empty() ? "" : "  ",
                note.c_str());
}

// A count right-aligned in a column of its own, then what it counts.
std::string counted(size_t count, const std::string& what) {
    char text[32];
    std::snprintf(text, sizeof text, "%9zu", count);
    return text + (" " + what);
}

// FNV-1a over what a run found, so that two builds can be seen to agree: printed, not checked.
class Digest {
  public:
    void add(const std::string& bytes) {
        for (char byte : bytes) {
            value = (value ^ static_cast<unsigned char>(byte)) * 1099511628211ULL;
        }
        add(bytes.size());
    }
    void add(unsigned long long number) {
        for (int shift = 0; shift < 64; shift += 8) {
            value = (value ^ ((number >> shift) & 0xFF)) * 1099511628211ULL;
        }
    }
    void print(const char* what) const {
        std::printf("  %-18s %016llx  (%s)\n", "digest", value, what);
    }

  private:
    unsigned long long value = 14695981039346656037ULL;
};

void add_occurrences(Digest& digest, const zorp::Motif& motif) {
    const zorp::IndexTable table = motif.get_indexes();
    const std::map<int, std::vector<int>> indexes(table.begin(), table.end());
    for (const auto& [series, positions] : indexes) {
        digest.add(static_cast<unsigned long long>(series));
        for (int position : positions) {
            digest.add(static_cast<unsigned long long>(position));
        }
    }
}

void print_peak_rss() {
    std::printf("  %-18s %10.1f MiB\n", "peak RSS", peak_rss_mib());
}

// The words of the random walks, normalised unless --raw; their series are freed before the
// run so that the peak memory is the run's own.
zorp::WordSet build_words(const Options& options) {
    zorp::WordSet words;
    if (!options.words.empty()) {
        size_t from = 0;
        for (size_t comma = 0; comma != std::string::npos; from = comma + 1) {
            comma = options.words.find(',', from);
            words.push_back(options.words.substr(from, comma - from));
        }
        return words;
    }
    const double build = seconds_of([&] {
        zorp::SeriesSet ts = random_walks(options);
        if (!options.raw) {
            zorp::znorm(ts);
        }
        words = zorp::sax(ts, options.seglen, options.alphabet);
    });
    const size_t letters = words.empty() ? 0 : words.front().size();
    std::printf("  words: %zu of %zu letters, built in %.3f s (not in the total)\n", words.size(),
                letters, build);
    return words;
}

int run_search(const Options& options) {
    print_parameters(options);
    const zorp::WordSet words = build_words(options);
    zorp::PatternMiner miner(options.minsup, options.min_len, options.max_len, options.max_overlap);
    const double search = seconds_of([&] { miner.mine(words); });
    size_t accepted = 0;
    for (const std::vector<zorp::Word>& level : miner.get_levels()) {
        accepted += level.size();
    }
    print_phase("search", search,
                counted(accepted, "accepted, ") + std::to_string(miner.get_frequent().size()) +
                    " remain, ended at level " + std::to_string(miner.get_level()));
    print_peak_rss();
    Digest digest;
    for (const std::vector<zorp::Word>& level : miner.get_levels()) {
        for (const zorp::Word& pattern : level) {
            digest.add(pattern);
        }
    }
    for (const auto& [pattern, motif] : miner.get_frequent()) {
        digest.add(pattern);
        add_occurrences(digest, motif);
    }
    digest.print("levels, patterns and occurrences");
    return 0;
}

int run_miner(const Options& options) {
    print_parameters(options);
    zorp::SeriesSet ts;
    const double build = seconds_of([&] { ts = random_walks(options); });
    std::printf("  series built in %.3f s (not in the total)\n", build);

    zorp::Miner miner(options.minsup, options.seglen, options.alphabet, options.min_len,
                      options.max_len, options.max_overlap, options.k);
    zorp::WordSet words;
    const double normalise = seconds_of([&] { zorp::znorm(ts); });
    const double discretise =
        seconds_of([&] { words = zorp::sax(ts, options.seglen, options.alphabet); });
    const double mine = seconds_of([&] { miner.mine_patterns(words); });
    const double map = seconds_of([&] { miner.map_patterns(ts); });
    const double rank = seconds_of([&] { miner.sort_patterns(); });
    const double peak = peak_rss_mib();
    // What Miner::mine returns with k 0: the whole list, held beside the Miner's own.
    const std::vector<zorp::Motif> returned = miner.get_motifs();
    const double peak_returned = peak_rss_mib();
    const size_t motifs = returned.size();

    std::printf("  %-18s %10zu", "motifs", motifs);
    if (options.k > 0) {
        std::printf(" ranked, %zu within k", std::min(motifs, static_cast<size_t>(options.k)));
    }
    std::printf("\n");
    print_phase("normalise", normalise);
    print_phase("discretise", discretise);
    print_phase("mine", mine);
    print_phase("map", map);
    print_phase("rank", rank);
    print_phase("total", normalise + discretise + mine + map + rank);
    const double input = mebibytes(sizeof(double) * static_cast<double>(options.series) *
                                   static_cast<double>(options.points));
    std::printf("  %-18s %10.1f MiB  %.2f x the input's %.1f MiB of doubles\n", "peak RSS", peak,
                peak / input, input);
    std::printf("  %-18s %10.1f MiB  %.2f x, with the list returned\n", "peak RSS, returned",
                peak_returned, peak_returned / input);
    Digest digest;
    for (const zorp::Motif& motif : returned) {
        digest.add(motif.get_pattern());
        add_occurrences(digest, motif);
        const auto matches = motif.get_best_matches();
        for (const auto& [series, start] : std::map<int, int>(matches.begin(), matches.end())) {
            digest.add(static_cast<unsigned long long>(series));
            digest.add(static_cast<unsigned long long>(start));
        }
    }
    digest.print("ranking, patterns, occurrences and best matches");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    try {
        if (options.command == "search") {
            return run_search(options);
        }
        return run_miner(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_phases: %s\n", error.what());
        return 1;
    }
}
