#!/usr/bin/env python3
"""Sends RadioInfo datagrams as a logger does, for the demo and the tests.

  radioinfo-send.py --port 12060 --freq 14074000 [--tx-freq HZ] [--tx] [--radio N]
  radioinfo-send.py --port 12060 --lines     (one datagram per line of standard
                                              input: FREQ [TX_FREQ] [tx] [radio=N];
                                              prints each one's send time in us)

Frequencies are given in hertz and sent in tens of hertz. Only to loopback
unless --host names another address of this machine.
"""
import argparse
import socket
import sys
import time

PACKET = """<?xml version="1.0" encoding="utf-8"?>
<RadioInfo>
  <app>radioinfo-send</app>
  <StationName>{station}</StationName>
  <RadioNr>{radio}</RadioNr>
  <Freq>{freq}</Freq>
  <TXFreq>{tx_freq}</TXFreq>
  <Mode>CW</Mode>
  <IsSplit>{split}</IsSplit>
  <ActiveRadioNr>{radio}</ActiveRadioNr>
  <IsTransmitting>{tx}</IsTransmitting>
  <RadioName>Demo</RadioName>
</RadioInfo>
"""


def packet(station, radio, freq, tx_freq, tx):
    tx_freq = freq if tx_freq is None else tx_freq
    return PACKET.format(station=station, radio=radio, freq=freq // 10, tx_freq=tx_freq // 10,
                         split=tx_freq != freq, tx=tx).encode()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=12060)
    parser.add_argument("--radio", type=int, default=1)
    parser.add_argument("--freq", type=int, help="receive frequency, Hz")
    parser.add_argument("--lines", action="store_true", help="datagrams from standard input, one a line")
    parser.add_argument("--tx-freq", type=int, help="transmit frequency, Hz (default: --freq)")
    parser.add_argument("--tx", action="store_true", help="IsTransmitting True")
    parser.add_argument("--station", default=socket.gethostname())
    args = parser.parse_args()
    if args.freq is None and not args.lines:
        parser.error("--freq or --lines is required")
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        if not args.lines:
            s.sendto(packet(args.station, args.radio, args.freq, args.tx_freq, args.tx), (args.host, args.port))
            return
        for line in sys.stdin:
            words = line.split()
            if not words:
                continue
            numbers = [int(w) for w in words if w.isdigit()]
            radio = next((int(w[6:]) for w in words if w.startswith("radio=")), args.radio)
            data = packet(args.station, radio, numbers[0], numbers[1] if len(numbers) > 1 else None, "tx" in words)
            # The stamp is taken as the datagram leaves, so a latency measured from it is the receiver's alone.
            sent = time.clock_gettime_ns(time.CLOCK_REALTIME) // 1000
            s.sendto(data, (args.host, args.port))
            print(sent, flush=True)


if __name__ == "__main__":
    main()
