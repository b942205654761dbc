# Elementary functions against glibc's libm on the same arguments: latency (each call
# waits for the previous result) and throughput over arrays, scalar and batch forms.
kaldro_add_bench(bench_elementary SOURCES elementary_bench.cpp LIBS m)
