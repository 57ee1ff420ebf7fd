# A pymodbus TCP client for the logger's gateway tests: writes one register, then asks the slave ID.
#   gateway_client.py PORT UNIT REGISTER VALUE
# Prints "write ok REGISTER VALUE" or "write exception CODE", then "slave id HEX" or
# "slave id exception CODE".
import sys

from pymodbus.client import ModbusTcpClient
from pymodbus.other_message import ReportSlaveIdRequest

port, unit, register, value = (int(a) for a in sys.argv[1:5])
client = ModbusTcpClient("127.0.0.1", port=port, timeout=3, retries=0)
if not client.connect():
    print("no connection")
    sys.exit(1)
answer = client.write_register(register, value, slave=unit)
print("write", "exception %d" % answer.exception_code if answer.isError() else "ok %d %d" % (answer.address, answer.value))
answer = client.execute(ReportSlaveIdRequest(unit=unit))
print("slave id", "exception %d" % answer.exception_code if answer.isError() else answer.identifier.hex())
client.close()
