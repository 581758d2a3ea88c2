"""PyVISA on our usbtmc VISA library, run by tst_usbtmc against its fake
usbtmc driver (the test's environment: umockdev's preload library and
testbed). Arguments: the library, the descriptors of the first stick, the
second stick, the unsupported instrument and the other interface's stick,
then the first stick's identification."""
import os
import sys

import pyvisa

library, first, second, sensor, other, idn = sys.argv[1:7]


def open_files():
    return len(os.listdir('/proc/self/fd'))


before = open_files()
rm = pyvisa.ResourceManager(library)
found = rm.list_resources()
assert set(found) == {first, second, sensor}, found
assert other not in found

stick = rm.open_resource(first)
assert stick.timeout == 2000, stick.timeout
stick.read_termination = '\n'
assert stick.query('*IDN?') == idn, stick.query('*IDN?')
assert stick.query('FREQ:SET?') == '2217.5'
stick.write('FREQ:SET 1234.5')
assert stick.query('FREQ:RETACT?') == '1234.500'

# A query the instrument does not answer times out; the next one works.
stick.timeout = 150
try:
    stick.query('NOSUCH?')
    raise AssertionError('no timeout')
except pyvisa.errors.VisaIOError as error:
    assert error.error_code == pyvisa.constants.StatusCode.error_timeout, error
assert stick.query('FREQ:SET?') == '1234.5'

stick.close()
rm.close()
assert open_files() == before, (before, open_files())
print('ok')
