#!/usr/bin/python3
"""A Branch meter behind a Modbus TCP gateway, served by pymodbus (an independent implementation).

Usage: pymodbus_branch_meter.py PORT UNIT MILLIAMPS NAME
Serves unit UNIT on 127.0.0.1:PORT: holding registers 0 to 41 hold MILLIAMPS (the breaker
currents), 42 to 48 zero (no alarms), 273 and 274 the four-character meter NAME, and report slave
ID answers slave ID 230, run indicator 0xFF and the Branch meter's device text. Runs until killed.
"""
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartTcpServer

BRANCH_SLAVE_ID = 230
RUNNING = 0xFF
DEVICE_TEXT = b"Tamsa Branch Circuit Monitor, 42 breakers"
NAME_REGISTER = 273
REGISTERS = 1024


def main():
    port, unit, milliamps, name = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    values = [0] * REGISTERS
    values[0:42] = [milliamps] * 42
    text = name.encode("ascii")[:4].ljust(4, b"\0")
    values[NAME_REGISTER] = text[0] << 8 | text[1]
    values[NAME_REGISTER + 1] = text[2] << 8 | text[3]
    meter = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, values), zero_mode=True)
    # pymodbus puts its own run status after these bytes; the zero ends the device text before it.
    meter.reportSlaveIdData = bytes([BRANCH_SLAVE_ID, RUNNING]) + DEVICE_TEXT + b"\0"
    context = ModbusServerContext(slaves={unit: meter}, single=False)
    StartTcpServer(context=context, address=("127.0.0.1", port))


if __name__ == "__main__":
    main()
