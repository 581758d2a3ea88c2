# A standard VISA client (PyVISA) driving the simulated instruments.
# Run as: python3 pyvisa_check.py [path to libusbsynth-sim.so] (default:
# $USBSYNTH_VISA_LIBRARY), with USBSYNTH_SIM_CONFIG unset or empty so that
# the built-in instruments answer.
import os
import sys

import pyvisa
from pyvisa import constants
from pyvisa.errors import VisaIOError

MHZ = "USB0::0x3A7C::0x000F::QX10001::INSTR"
GHZ = "USB0::0x3A7C::0x0011::QX20002::INSTR"


def check(condition, what):
    if not condition:
        raise AssertionError(what)


path = sys.argv[1] if len(sys.argv) > 1 else os.environ["USBSYNTH_VISA_LIBRARY"]
rm = pyvisa.ResourceManager(path)
listed = rm.list_resources()
check(MHZ in listed and GHZ in listed, "list_resources: %r" % (listed,))
check(rm.list_resources("USB?*0x0011?*") == (GHZ,), "search by product id")
# PyVISA turns VI_ERROR_RSRC_NFOUND into an empty list; any other status raises.
check(rm.list_resources("GPIB?*") == (), "a search without match")

inst = rm.open_resource(MHZ)
inst.timeout = 300
check(inst.query("*IDN?") == "Quorvex Electronics,774-4400,QX10001,V4.1.0\n", "*IDN?")
for command, query, reply in [("FREQ:SET 1234.5", "FREQ:SET?", "1234.5\n"),
                              ("POWE:SET -12.5", "POWE:SET?", "-12.5\n"),
                              ("POWE:RF 0", "POWE:SET?", "OFF,-12.5\n")]:
    inst.write(command)
    got = inst.query(query)
    check(got == reply, "%s then %s: %r" % (command, query, got))
check(len(inst.query("SYST:READSTATE?").split(";")) == 6, "SYST:READSTATE?")
try:
    inst.query("NOT:A:QUERY?")
    check(False, "an unknown query must time out")
except VisaIOError as error:
    check(error.error_code == constants.StatusCode.error_timeout, "unknown query: %s" % error)
inst.close()

other = rm.open_resource(GHZ)
other.timeout = 300
other.write("FREQ:SET 12.3457")
check(other.query("FREQ:SET?") == "12.3457\n", "GHz model FREQ:SET?")
other.close()
rm.close()
print("pyvisa check passed with", rm.visalib.library_path)
