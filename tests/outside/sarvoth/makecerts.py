#!/usr/bin/env python3
"""Certificates for the TLS tests of the Telnet device.

Usage: makecerts.py FOLDER

Writes ca.pem (an authority of the test's own) and, for each kind, <kind>.pem
and <kind>.key (PEM, no pass phrase):
  good       signed by the authority, for 127.0.0.1, ::1 and localhost
  self       self-signed, for 127.0.0.1 and localhost
  wrongname  signed by the authority, for other.example only
  expired    signed by the authority, for 127.0.0.1 and localhost, ended yesterday
"""
import datetime
import ipaddress
import os
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID


def name(cn):
    return x509.Name([x509.NameAttribute(NameOID.ORGANIZATION_NAME, "qor tests"),
                      x509.NameAttribute(NameOID.COMMON_NAME, cn)])


def write(folder, base, cert, key):
    with open(os.path.join(folder, base + ".pem"), "wb") as f:
        f.write(cert.public_bytes(serialization.Encoding.PEM))
    if key is not None:
        with open(os.path.join(folder, base + ".key"), "wb") as f:
            f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                      serialization.NoEncryption()))


def make(subject, key, issuer, issuer_key, sans, start, end, ca=False):
    b = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer).public_key(key.public_key())
         .serial_number(x509.random_serial_number()).not_valid_before(start).not_valid_after(end)
         .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if ca:
        b = b.add_extension(x509.KeyUsage(digital_signature=True, content_commitment=False, key_encipherment=False,
                                          data_encipherment=False, key_agreement=False, key_cert_sign=True,
                                          crl_sign=True, encipher_only=False, decipher_only=False), critical=True)
    if sans:
        b = b.add_extension(x509.SubjectAlternativeName(sans), critical=False)
    return b.sign(issuer_key, hashes.SHA256())


def main():
    folder = sys.argv[1]
    now = datetime.datetime.now(datetime.timezone.utc)
    day = datetime.timedelta(days=1)
    local = [x509.IPAddress(ipaddress.ip_address("127.0.0.1")), x509.IPAddress(ipaddress.ip_address("::1")),
             x509.DNSName("localhost")]

    ca_key = ec.generate_private_key(ec.SECP256R1())
    ca_name = name("qor test authority")
    ca = make(ca_name, ca_key, ca_name, ca_key, None, now - day, now + 30 * day, ca=True)
    write(folder, "ca", ca, None)

    kinds = {
        "good": (local, now - day, now + 30 * day, True),
        "self": (local, now - day, now + 30 * day, False),
        "wrongname": ([x509.DNSName("other.example")], now - day, now + 30 * day, True),
        "expired": (local, now - 30 * day, now - day, True),
    }
    for kind, (sans, start, end, by_ca) in kinds.items():
        key = ec.generate_private_key(ec.SECP256R1())
        subject = name(kind + ".test")
        if by_ca:
            cert = make(subject, key, ca_name, ca_key, sans, start, end)
        else:
            cert = make(subject, key, subject, key, sans, start, end)
        write(folder, kind, cert, key)


if __name__ == "__main__":
    main()
