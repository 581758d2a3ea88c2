"""A standard VISA client (PyVISA) driving the simulated instruments.

Run as: python3 pyvisa_check.py [path to libusbsynth-sim.so]
(the path defaults to $USBSYNTH_VISA_LIBRARY). Uses the built-in
instruments, so USBSYNTH_SIM_CONFIG must be unset or empty.
"""

import os
import sys

import pyvisa
from pyvisa import constants
from pyvisa.errors import VisaIOError

MHZ_MODEL = "USB0::0x3A7C::0x000F::QX10001::INSTR"
GHZ_MODEL = "USB0::0x3A7C::0x0011::QX20002::INSTR"


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.environ["USBSYNTH_VISA_LIBRARY"]
    rm = pyvisa.ResourceManager(path)

    listed = rm.list_resources()
    check(MHZ_MODEL in listed and GHZ_MODEL in listed, "list_resources: %r" % (listed,))
    check(rm.list_resources("USB?*0x0011?*") == (GHZ_MODEL,), "search by model code")
    # PyVISA turns VI_ERROR_RSRC_NFOUND into an empty list; any other status
    # would raise.
    check(rm.list_resources("GPIB?*") == (), "a search without match")

    inst = rm.open_resource(MHZ_MODEL)
    check("::0::INSTR" in inst._resource_name, "PyVISA opens the normalised name")
    inst.timeout = 300
    check(inst.query("*IDN?").strip() == "Quorvex Electronics,774-4400,QX10001,V4.1.0",
          "*IDN?")
    inst.write("FREQ:SET 1234.5")
    check(float(inst.query("FREQ:SET?")) == 1234.5, "FREQ:SET?")
    check(float(inst.query("FREQ:RETACT?")) == 1234.5, "FREQ:RETACT?")
    inst.write("POWE:SET -12.5")
    check(inst.query("POWE:SET?") == "-12.5\n", "POWE:SET? after a value")
    inst.write("POWE:SET MIN")
    check(inst.query("POWE:SET?").strip().endswith(" MIN"), "POWE:SET? after MIN")
    inst.write("POWE:RF 0")
    check(inst.query("POWE:SET?").startswith("OFF,"), "POWE:SET? with RF off")
    check(len(inst.query("SYST:READSTATE?").strip().split(";")) == 6, "READSTATE")
    try:
        inst.query("NOT:A:QUERY?")
        check(False, "an unknown query must time out")
    except VisaIOError as error:
        check(error.error_code == constants.StatusCode.error_timeout, "unknown query: %s" % error)
    inst.close()

    other = rm.open_resource(GHZ_MODEL)
    other.timeout = 300
    other.write("FREQ:SET 12.3457")
    check(float(other.query("FREQ:SET?")) == 12.3457, "GHz model FREQ:SET?")
    other.close()
    rm.close()
    print("pyvisa check passed with", rm.visalib.library_path)


if __name__ == "__main__":
    main()
