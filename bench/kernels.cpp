// Hand-written C++ baselines of the kernels that bench/kernels.py times: the map, the
// reduction and the compute-bound iteration as OpenMP loops, the projection's recurrence as a
// sequential loop per row, the matrix product as a sequential loop nest.
//
//     kernels threads                        the thread count OpenMP would use
//     kernels map CALLS N                    a[i] = cubic in i * 1e-7, N doubles
//     kernels reduction CALLS N              sum of a[i] * a[i], a[i] = i * 1e-7
//     kernels projection CALLS ROWS STEPS    x[r, t + 1] = 0.5 * x[r, t] + y[r, t]
//     kernels matmul CALLS N                 c = a b, N x N, summed over k in order
//     kernels compute CALLS N STEPS          a[i] = STEPS steps of x = x * x * 0.5 + 0.25
//
// The arrays are allocated and written once, before the clock starts; the kernel then runs
// CALLS times on them, and each call prints "kernel-time SECONDS CHECK": the time of its loop
// alone and a sum the harness compares with the other versions' results.
#include <omp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double total(const std::vector<double> &v) {
    double s = 0.0;
    for (double e : v)
        s += e;
    return s;
}

// The check is computed after the clock is read: it is not part of the kernel's time.
void report(double seconds, double check) {
    std::printf("kernel-time %.9f %.17g\n", seconds, check);
}

void map(int calls, long long n) {
    std::vector<double> a(n, 0.0);
    for (int call = 0; call < calls; ++call) {
        double start = omp_get_wtime();
#pragma omp parallel for
        for (long long i = 0; i < n; ++i) {
            double x = i * 1e-7;
            a[i] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0;
        }
        double seconds = omp_get_wtime() - start;
        report(seconds, total(a));
    }
}

void reduction(int calls, long long n) {
    std::vector<double> a(n);
    for (long long i = 0; i < n; ++i)
        a[i] = i * 1e-7;
    for (int call = 0; call < calls; ++call) {
        double start = omp_get_wtime();
        double s = 0.0;
#pragma omp parallel for reduction(+ : s)
        for (long long i = 0; i < n; ++i)
            s += a[i] * a[i];
        double seconds = omp_get_wtime() - start;
        report(seconds, s);
    }
}

void projection(int calls, long long rows, long long steps) {
    // Column 0 of a row of x holds the state before the first step.
    long long width = steps + 1;
    std::vector<double> x(rows * width, 0.0);
    std::vector<double> y(rows * steps);
    for (long long r = 0; r < rows; ++r)
        for (long long t = 0; t < steps; ++t)
            y[r * steps + t] = r * 1e-3 + t * 1e-4;
    for (int call = 0; call < calls; ++call) {
        double start = omp_get_wtime();
        for (long long r = 0; r < rows; ++r) {
            double *xr = &x[r * width];
            const double *yr = &y[r * steps];
            for (long long t = 0; t < steps; ++t)
                xr[t + 1] = 0.5 * xr[t] + yr[t];
        }
        double seconds = omp_get_wtime() - start;
        report(seconds, total(x));
    }
}

void matmul(int calls, long long n) {
    std::vector<double> a(n * n), b(n * n), c(n * n, 0.0);
    for (long long i = 0; i < n; ++i)
        for (long long j = 0; j < n; ++j) {
            a[i * n + j] = i * 1e-3 + j * 2e-3;
            b[i * n + j] = i * 3e-3 - j * 1e-3;
        }
    for (int call = 0; call < calls; ++call) {
        double start = omp_get_wtime();
        for (long long i = 0; i < n; ++i)
            for (long long j = 0; j < n; ++j) {
                double t = 0.0;
                for (long long k = 0; k < n; ++k)
                    t += a[i * n + k] * b[k * n + j];
                c[i * n + j] = t;
            }
        double seconds = omp_get_wtime() - start;
        report(seconds, total(c));
    }
}

void compute(int calls, long long n, long long steps) {
    std::vector<double> a(n, 0.0);
    for (int call = 0; call < calls; ++call) {
        double start = omp_get_wtime();
#pragma omp parallel for
        for (long long i = 0; i < n; ++i) {
            double x = i * 1e-7;
            for (long long k = 0; k < steps; ++k)
                x = x * x * 0.5 + 0.25;
            a[i] = x;
        }
        double seconds = omp_get_wtime() - start;
        report(seconds, total(a));
    }
}

int usage() {
    std::fprintf(
        stderr, "usage: kernels threads | KERNEL CALLS SIZES..., KERNEL one of map N, reduction N, "
                "projection ROWS STEPS, matmul N, compute N STEPS\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 2 && std::strcmp(argv[1], "threads") == 0) {
        std::printf("%d\n", omp_get_max_threads());
        return 0;
    }
    if (argc < 4)
        return usage();
    const char *kernel = argv[1];
    int calls = std::atoi(argv[2]);
    if (argc == 4 && std::strcmp(kernel, "map") == 0)
        map(calls, std::atoll(argv[3]));
    else if (argc == 4 && std::strcmp(kernel, "reduction") == 0)
        reduction(calls, std::atoll(argv[3]));
    else if (argc == 5 && std::strcmp(kernel, "projection") == 0)
        projection(calls, std::atoll(argv[3]), std::atoll(argv[4]));
    else if (argc == 4 && std::strcmp(kernel, "matmul") == 0)
        matmul(calls, std::atoll(argv[3]));
    else if (argc == 5 && std::strcmp(kernel, "compute") == 0)
        compute(calls, std::atoll(argv[3]), std::atoll(argv[4]));
    else
        return usage();
    return 0;
}
