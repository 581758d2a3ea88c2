# The eleven queries of one refresh pass, in the same order, from a PyVISA
# script against the same simulated instrument: the yardstick for the panel's
# own cost per pass. Run by bench_refresh, which passes its configuration in
# the environment.
#   python3 pyvisa_refresh.py LIBRARY DESCRIPTOR PASSES
# Prints the median CPU and wall time per pass in microseconds, first with a
# session opened and closed in every pass (as the panel does), then with one
# session held open.
import statistics
import sys
import time

import pyvisa

QUERIES = ["FREQ:REF:EXT?", "POWE:RF?", "FREQ:REF:FREQ?", "FREQ:PLLM?", "FREQ:REF:DIV?", "FREQ:LOCK?",
           "POWE:SET?", "FREQ:SET?", "FREQ:RETACT?", "SYST:READSTATE?", "SYST:TEMP?"]

library, descriptor, passes = sys.argv[1], sys.argv[2], int(sys.argv[3])
rm = pyvisa.ResourceManager(library)


def open_session():
    inst = rm.open_resource(descriptor)
    inst.write_termination = "\n"
    inst.timeout = 2000
    return inst


def ask_all(inst):
    for query in QUERIES:
        inst.query(query)


def measure(one_pass):
    cpu, wall = [], []
    for _ in range(3):
        one_pass()
    for _ in range(passes):
        cpu0, wall0 = time.process_time(), time.perf_counter()
        one_pass()
        cpu.append(time.process_time() - cpu0)
        wall.append(time.perf_counter() - wall0)
    return statistics.median(cpu) * 1e6, statistics.median(wall) * 1e6


def session_per_pass():
    inst = open_session()
    ask_all(inst)
    inst.close()


held = open_session()
for cpu, wall in (measure(session_per_pass), measure(lambda: ask_all(held))):
    print("%.1f %.1f" % (cpu, wall))
held.close()
rm.close()
