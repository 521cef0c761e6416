#pragma once
// The products of GostFieldA.h with the x86-64 instructions mulx (BMI2) and adcx/adox
// (ADX): mulx leaves the flags alone, and adcx and adox carry in two different flags, so
// the low and the high halves of a row of partial products go into the sum as two
// interleaved carry chains. Same contracts and the same results as FieldA.
//
// Only for x86-64, and only to be entered after gostCpuHasMulxAdx() said yes. Written as
// inline assembly: the compilers' intrinsics for adcx/adox come out as one adc chain with
// the carries spilled in between, which lost most of the gain (measured with gost_bench).
#include "GostFieldA.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define ORV_GOST_HAVE_MULX 1

// The reduction both products end in: r0..r3 + 617 * (r4..r7) with mulx/adcx/adox (the
// fifth limb lands in r7), then r0..r3 + 617 * r7, then the last carry as 617 (see
// FieldALazyOps::foldTop). Uses t and h as scratch and leaves the result in r0..r3.
#define ORV_GOST_FOLD_A_ASM \
            "movl $617, %%edx\n\t" \
            "xorl %k[h], %k[h]\n\t" \
            "mulx %[r4], %[t], %[r4]\n\t" \
            "adcx %[t], %[r0]\n\t" \
            "adox %[r4], %[r1]\n\t" \
            "mulx %[r5], %[t], %[r5]\n\t" \
            "adcx %[t], %[r1]\n\t" \
            "adox %[r5], %[r2]\n\t" \
            "mulx %[r6], %[t], %[r6]\n\t" \
            "adcx %[t], %[r2]\n\t" \
            "adox %[r6], %[r3]\n\t" \
            "mulx %[r7], %[t], %[r7]\n\t" \
            "adcx %[t], %[r3]\n\t" \
            "adox %[h], %[r7]\n\t" \
            "adcx %[h], %[r7]\n\t" \
            "imulq $617, %[r7], %[r7]\n\t" \
            "addq %[r7], %[r0]\n\t" \
            "adcq $0, %[r1]\n\t" \
            "adcq $0, %[r2]\n\t" \
            "adcq $0, %[r3]\n\t" \
            "sbbq %[t], %[t]\n\t" \
            "andq $617, %[t]\n\t" \
            "addq %[t], %[r0]\n\t"

namespace orv { namespace gost {

struct FieldAMulx : FieldALazyOps {
    // out = a * b mod p; a, b below 2^256, out below 2^256. out may be a or b.
    static ORV_GOST_INLINE void mul(Fe out, const Fe a, const Fe b) {
        std::uint64_t r0, r1, r2, r3, r4, r5, r6, r7, t, h;
        // Row i adds a[i] * b into r[i..i+4]: adcx takes the low halves, adox the high
        // ones, and the limb r[i+4] starts as the zero both chains end in. Then the
        // upper half is folded in as 617 * (r4..r7) (2^256 = 617 mod p), its top limb
        // once more as 617 * top, and a last carry as 617 (see FieldALazyOps::foldTop).
        __asm__(
            "movq 0(%[a]), %%rdx\n\t"
            "mulx 0(%[b]), %[r0], %[r1]\n\t"
            "mulx 8(%[b]), %[t], %[r2]\n\t"
            "addq %[t], %[r1]\n\t"
            "mulx 16(%[b]), %[t], %[r3]\n\t"
            "adcq %[t], %[r2]\n\t"
            "mulx 24(%[b]), %[t], %[r4]\n\t"
            "adcq %[t], %[r3]\n\t"
            "adcq $0, %[r4]\n\t"

            "movq 8(%[a]), %%rdx\n\t"
            "xorl %k[r5], %k[r5]\n\t"
            "mulx 0(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r1]\n\t"
            "adox %[h], %[r2]\n\t"
            "mulx 8(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r2]\n\t"
            "adox %[h], %[r3]\n\t"
            "mulx 16(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r3]\n\t"
            "adox %[h], %[r4]\n\t"
            "mulx 24(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r4]\n\t"
            "adox %[r5], %[h]\n\t"
            "adcx %[r5], %[h]\n\t"
            "movq %[h], %[r5]\n\t"

            "movq 16(%[a]), %%rdx\n\t"
            "xorl %k[r6], %k[r6]\n\t"
            "mulx 0(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r2]\n\t"
            "adox %[h], %[r3]\n\t"
            "mulx 8(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r3]\n\t"
            "adox %[h], %[r4]\n\t"
            "mulx 16(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r4]\n\t"
            "adox %[h], %[r5]\n\t"
            "mulx 24(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r5]\n\t"
            "adox %[r6], %[h]\n\t"
            "adcx %[r6], %[h]\n\t"
            "movq %[h], %[r6]\n\t"

            "movq 24(%[a]), %%rdx\n\t"
            "xorl %k[r7], %k[r7]\n\t"
            "mulx 0(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r3]\n\t"
            "adox %[h], %[r4]\n\t"
            "mulx 8(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r4]\n\t"
            "adox %[h], %[r5]\n\t"
            "mulx 16(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r5]\n\t"
            "adox %[h], %[r6]\n\t"
            "mulx 24(%[b]), %[t], %[h]\n\t"
            "adcx %[t], %[r6]\n\t"
            "adox %[r7], %[h]\n\t"
            "adcx %[r7], %[h]\n\t"
            "movq %[h], %[r7]\n\t"

            ORV_GOST_FOLD_A_ASM
            : [r0] "=&r"(r0), [r1] "=&r"(r1), [r2] "=&r"(r2), [r3] "=&r"(r3), [r4] "=&r"(r4),
              [r5] "=&r"(r5), [r6] "=&r"(r6), [r7] "=&r"(r7), [t] "=&r"(t), [h] "=&r"(h)
            : [a] "r"(a), [b] "r"(b)
            : "rdx", "cc", "memory");
        out[0] = r0;
        out[1] = r1;
        out[2] = r2;
        out[3] = r3;
    }

    // out = a^2 mod p; a below 2^256, out below 2^256. out may be a. The six cross
    // products once, doubled by an add-with-carry of the sum to itself, then the four
    // squares on the diagonal.
    static ORV_GOST_INLINE void sqr(Fe out, const Fe a) {
        std::uint64_t r0, r1, r2, r3, r4, r5, r6, r7, t, h;
        __asm__(
            "movq 0(%[a]), %%rdx\n\t"
            "mulx 8(%[a]), %[r1], %[r2]\n\t"
            "mulx 16(%[a]), %[t], %[r3]\n\t"
            "addq %[t], %[r2]\n\t"
            "mulx 24(%[a]), %[t], %[r4]\n\t"
            "adcq %[t], %[r3]\n\t"
            "adcq $0, %[r4]\n\t"

            "movq 8(%[a]), %%rdx\n\t"
            "xorl %k[r6], %k[r6]\n\t"
            "xorl %k[r5], %k[r5]\n\t"
            "mulx 16(%[a]), %[t], %[h]\n\t"
            "adcx %[t], %[r3]\n\t"
            "adox %[h], %[r4]\n\t"
            "mulx 24(%[a]), %[t], %[h]\n\t"
            "adcx %[t], %[r4]\n\t"
            "adox %[h], %[r5]\n\t"
            "adcx %[r6], %[r5]\n\t"

            "movq 16(%[a]), %%rdx\n\t"
            "mulx 24(%[a]), %[t], %[r6]\n\t"
            "addq %[t], %[r5]\n\t"
            "adcq $0, %[r6]\n\t"

            "xorl %k[r7], %k[r7]\n\t"
            "addq %[r1], %[r1]\n\t"
            "adcq %[r2], %[r2]\n\t"
            "adcq %[r3], %[r3]\n\t"
            "adcq %[r4], %[r4]\n\t"
            "adcq %[r5], %[r5]\n\t"
            "adcq %[r6], %[r6]\n\t"
            "adcq %[r7], %[r7]\n\t"

            "movq 0(%[a]), %%rdx\n\t"
            "mulx %%rdx, %[r0], %[t]\n\t"
            "addq %[t], %[r1]\n\t"
            "movq 8(%[a]), %%rdx\n\t"
            "mulx %%rdx, %[t], %[h]\n\t"
            "adcq %[t], %[r2]\n\t"
            "adcq %[h], %[r3]\n\t"
            "movq 16(%[a]), %%rdx\n\t"
            "mulx %%rdx, %[t], %[h]\n\t"
            "adcq %[t], %[r4]\n\t"
            "adcq %[h], %[r5]\n\t"
            "movq 24(%[a]), %%rdx\n\t"
            "mulx %%rdx, %[t], %[h]\n\t"
            "adcq %[t], %[r6]\n\t"
            "adcq %[h], %[r7]\n\t"

            ORV_GOST_FOLD_A_ASM
            : [r0] "=&r"(r0), [r1] "=&r"(r1), [r2] "=&r"(r2), [r3] "=&r"(r3), [r4] "=&r"(r4),
              [r5] "=&r"(r5), [r6] "=&r"(r6), [r7] "=&r"(r7), [t] "=&r"(t), [h] "=&r"(h)
            : [a] "r"(a)
            : "rdx", "cc", "memory");
        out[0] = r0;
        out[1] = r1;
        out[2] = r2;
        out[3] = r3;
    }
};

}} // namespace orv::gost
#endif
