#!/usr/bin/env python3
"""Sends RadioInfo datagrams as a logger does, for the demo and the tests.

  radioinfo-send.py --port 12060 --freq 14074000 [--tx-freq HZ] [--tx] [--radio N]

Frequencies are given in hertz and sent in tens of hertz. Only to loopback
unless --host names another address of this machine.
"""
import argparse
import socket

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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=12060)
    parser.add_argument("--radio", type=int, default=1)
    parser.add_argument("--freq", type=int, required=True, help="receive frequency, Hz")
    parser.add_argument("--tx-freq", type=int, help="transmit frequency, Hz (default: --freq)")
    parser.add_argument("--tx", action="store_true", help="IsTransmitting True")
    parser.add_argument("--station", default=socket.gethostname())
    args = parser.parse_args()
    tx_freq = args.freq if args.tx_freq is None else args.tx_freq
    packet = PACKET.format(station=args.station, radio=args.radio, freq=args.freq // 10,
                           tx_freq=tx_freq // 10, split=tx_freq != args.freq, tx=args.tx)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.sendto(packet.encode(), (args.host, args.port))


if __name__ == "__main__":
    main()
