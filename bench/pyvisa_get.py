# The job of "usbsynth-ctl get SERIAL" done with PyVISA, for comparison: find
# the instrument, identify it, then read its state with the panel's queries
# in one session of their own.
# Run as: python3 pyvisa_get.py LIBRARY SERIAL
import sys

import pyvisa

library, serial = sys.argv[1], sys.argv[2]
rm = pyvisa.ResourceManager(library)
for resource in rm.list_resources("USB?*"):
    fields = resource.split("::")
    if len(fields) < 4 or fields[3] != serial or not 0x0F <= int(fields[2], 16) <= 0x15:
        continue
    with rm.open_resource(resource) as inst:
        idn = inst.query("*IDN?").split(",")
    if len(idn) < 4 or not idn[1].startswith(("774", "VX27H774", "VXHN774", "TR27H774")):
        continue
    sensor = int(fields[2], 16) not in (0x0F, 0x14)
    queries = ["FREQ:REF:EXT?", "POWE:RF?", "FREQ:REF:FREQ?", "FREQ:PLLM?", "FREQ:REF:DIV?", "FREQ:LOCK?",
               "POWE:SET?", "FREQ:SET?", "FREQ:RETACT?"] + (["SYST:TEMP?"] if sensor else [])
    with rm.open_resource(resource) as inst:
        for query in queries:
            print(query, inst.query(query).strip())
    break
else:
    sys.exit(3)
rm.close()
