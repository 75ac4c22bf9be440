// Prints the constants of the decoder's decibel-to-gain routine (effect/decibels.cpp), each
// split into doubles whose sum carries 106 or more bits, computed with MPFR at 256 bits.
// Run it and paste its output when the routine's reduction changes.
#include <mpfr.h>

#include <cstdio>

namespace {

constexpr mpfr_prec_t kBits = 256;

// Splits v into `parts` doubles, each with at most `bits` significant bits, the rest carried on.
void split(const char* name, mpfr_t v, int parts, int bits) {
    mpfr_t rest, part;
    mpfr_inits2(kBits, rest, part, static_cast<mpfr_ptr>(nullptr));
    mpfr_set(rest, v, MPFR_RNDN);
    std::printf("%s", name);
    for (int i = 0; i < parts; ++i) {
        mpfr_prec_round(part, kBits, MPFR_RNDN);
        mpfr_set(part, rest, MPFR_RNDN);
        mpfr_prec_round(part, i + 1 < parts ? bits : 53, MPFR_RNDN);
        std::printf("%s%a", i == 0 ? " " : ", ", mpfr_get_d(part, MPFR_RNDN));
        mpfr_prec_round(part, kBits, MPFR_RNDN);
        mpfr_sub(rest, rest, part, MPFR_RNDN);
    }
    std::printf("\n");
    mpfr_clears(rest, part, static_cast<mpfr_ptr>(nullptr));
}

}  // namespace

int main() {
    mpfr_t v, t;
    mpfr_inits2(kBits, v, t, static_cast<mpfr_ptr>(nullptr));

    // log10(2) / 64 in three parts, the first two short enough that k times them is exact.
    mpfr_set_ui(v, 2, MPFR_RNDN);
    mpfr_log10(v, v, MPFR_RNDN);
    mpfr_div_ui(v, v, 64, MPFR_RNDN);
    split("log10(2)/64:", v, 3, 32);

    mpfr_set_ui(v, 10, MPFR_RNDN);
    mpfr_log(v, v, MPFR_RNDN);
    split("ln(10):", v, 2, 53);

    for (int n = 2; n <= 11; ++n) {
        mpfr_set_ui(v, 1, MPFR_RNDN);
        for (int i = 2; i <= n; ++i) mpfr_div_ui(v, v, static_cast<unsigned long>(i), MPFR_RNDN);
        char name[32];
        std::snprintf(name, sizeof name, "1/%d!:", n);
        split(name, v, 2, 53);
    }

    for (int j = 0; j < 64; ++j) {
        mpfr_set_si(t, j, MPFR_RNDN);
        mpfr_div_ui(t, t, 64, MPFR_RNDN);
        mpfr_ui_pow(v, 2, t, MPFR_RNDN);
        char name[32];
        std::snprintf(name, sizeof name, "2^(%d/64):", j);
        split(name, v, 2, 53);
    }
    mpfr_clears(v, t, static_cast<mpfr_ptr>(nullptr));
}
