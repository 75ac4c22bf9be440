// The decoder's decibel routine against MPFR's correctly rounded 10^x: every gain a host can
// set, millions of random levels, the exact powers of ten, and the values the guard catches.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "effect/decibels.h"
#include "runtime/numeric.h"

namespace {

// 10^x rounded to nearest double by MPFR, subnormals included.
class ExactPowerOfTen {
public:
    ExactPowerOfTen() {
        mpfr_inits2(53, x, y, static_cast<mpfr_ptr>(nullptr));
    }
    ~ExactPowerOfTen() {
        mpfr_clears(x, y, static_cast<mpfr_ptr>(nullptr));
        mpfr_free_cache();  // this thread's cached constants, which would outlive it
    }
    double operator()(double v) {
        mpfr_set_d(x, v, MPFR_RNDN);
        const int inexact = mpfr_exp10(y, x, MPFR_RNDN);
        mpfr_subnormalize(y, inexact, MPFR_RNDN);
        return mpfr_get_d(y, MPFR_RNDN);
    }

private:
    mpfr_t x, y;
};

// The double's exponent range, so MPFR rounds subnormals as the hardware does.
struct DoubleExponents : ::testing::Environment {
    void SetUp() override {
        mpfr_set_emin(-1073);
        mpfr_set_emax(1024);
    }
};
const auto* const kExponents = ::testing::AddGlobalTestEnvironment(new DoubleExponents);

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Counts the values whose 10^x differs from MPFR's, the first few reported.
int mismatches(const std::vector<double>& exponents) {
    ExactPowerOfTen exact;
    int wrong = 0;
    for (double x : exponents) {
        const double got = vintrel::powerOfTen(x), want = exact(x);
        if (!sameBits(got, want) && ++wrong <= 5)
            ADD_FAILURE() << std::hexfloat << "10^" << x << ": " << got << ", correctly rounded " << want;
    }
    return wrong;
}

// Every level the parameter table can store for a gain row (its 0.1 dB grid, as the normalised
// set computes it) and that level as a saved state brings it back (a float).
TEST(Decibels, EveryGridLevelOfEveryGainParameterIsCorrectlyRounded) {
    struct Range {
        int lowest, highest;  // in tenths of a dB
    };
    const Range gains[] = {{-120, 120}, {-120, 120}, {-1500, 120}, {-1500, 120}, {-100, 100}};
    std::vector<double> exponents;
    for (const Range& r : gains)
        for (int tenth = r.lowest; tenth <= r.highest; ++tenth) {
            const double level = std::floor((tenth * 0.1 + 0.05) / 0.1) * 0.1;
            exponents.push_back(level / 20.0);
            exponents.push_back(static_cast<double>(static_cast<float>(level)) / 20.0);
        }
    EXPECT_EQ(exponents.size(), 2u * (241 + 241 + 1621 + 1621 + 201));
    EXPECT_EQ(mismatches(exponents), 0);
}

// Random float levels from -200 to +40 dB on two threads, and random exponents over the whole
// range where 10^x is a double, subnormals included.
TEST(Decibels, MillionsOfRandomLevelsAreCorrectlyRounded) {
    constexpr int kPerThread = 1'500'000;
    int wrong[2] = {};
    std::thread workers[2];
    for (int t = 0; t < 2; ++t)
        workers[t] = std::thread([t, &wrong] {
            std::mt19937_64 rng(1000 + static_cast<unsigned>(t));
            std::uniform_real_distribution<float> level(-200.0f, 40.0f);
            std::vector<double> exponents;
            for (int i = 0; i < kPerThread; ++i) exponents.push_back(static_cast<double>(level(rng)) / 20.0);
            wrong[t] = mismatches(exponents);
        });
    for (std::thread& w : workers) w.join();
    EXPECT_EQ(wrong[0] + wrong[1], 0);

    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> anywhere(-330.0, 310.0);
    std::vector<double> exponents;
    for (int i = 0; i < 200'000; ++i) exponents.push_back(anywhere(rng));
    EXPECT_EQ(mismatches(exponents), 0);
}

TEST(Decibels, ExactPowersOfTenAreExactAndTheOthersCorrectlyRounded) {
    double power = 1.0;
    for (int k = 0; k <= 22; ++k, power *= 10.0) EXPECT_EQ(vintrel::powerOfTen(k), power) << "10^" << k;
    EXPECT_EQ(vintrel::decibelsToGain(0.0), 1.0);
    EXPECT_EQ(vintrel::decibelsToGain(-0.0), 1.0);
    EXPECT_EQ(vintrel::decibelsToGain(20.0), 10.0);
    EXPECT_EQ(vintrel::decibelsToGain(-140.0), 1e-7);
    std::vector<double> exponents;
    for (int k = -330; k <= 310; ++k) exponents.push_back(k);
    EXPECT_EQ(mismatches(exponents), 0);
}

// NaN, infinities and huge values still meet the store guard as they did.
TEST(Decibels, ValuesThatTheStoreGuardCatchesStayCaught) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(std::isnan(vintrel::decibelsToGain(std::nan(""))));
    EXPECT_EQ(vintrel::decibelsToGain(inf), inf);
    EXPECT_EQ(vintrel::decibelsToGain(-inf), 0.0);
    EXPECT_EQ(vintrel::decibelsToGain(1e300), inf);
    EXPECT_EQ(vintrel::decibelsToGain(-1e300), 0.0);
    EXPECT_EQ(vintrel::decibelsToGain(6200.0), inf);  // past 10^308.25
    EXPECT_GT(vintrel::decibelsToGain(-6400.0), 0.0);  // a subnormal, 10^-320
    EXPECT_EQ(vintrel::decibelsToGain(-6480.0), 0.0);  // 10^-324, below half the smallest subnormal
    for (double v : {std::nan(""), inf, 1e300}) EXPECT_EQ(vintrel::storeGuard(vintrel::decibelsToGain(v)), 0.0);
}

}  // namespace
