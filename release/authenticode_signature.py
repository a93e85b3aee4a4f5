"""Splits an Authenticode signature into the parts that make verify checks with openssl.

Usage: authenticode_signature.py EXTRACTED_SIGNATURE OUTPUT_DIRECTORY

EXTRACTED_SIGNATURE is what `osslsigncode extract-signature` writes: the PKCS#7 SignedData itself
(osslsigncode 2.9), or the PE WIN_CERTIFICATE entry around it, header and padding included (2.5).
Writes into OUTPUT_DIRECTORY:
  signature.der        the SignedData alone, DER, as openssl reads it
  signature-value.bin  the primary signer's signature value: what an RFC 3161 timestamp stamps
  signer.der           the primary signer's certificate, when the signature carries it
  token.der            the RFC 3161 timestamp token (a SignedData), when there is one
  tsa-signer.der       the certificate that signed the token, when the token carries it
Prints "timestamp: rfc3161", "timestamp: countersignature" (the older Authenticode form, a second
SignerInfo) or "timestamp: none". Exit status 0, or 1 when the signature cannot be read (said on stderr).
The structures are read by asn1crypto (Debian's python3-asn1crypto), never by hand: run it with
Debian's /usr/bin/python3.
"""
import os
import sys

from asn1crypto import cms


class Unreadable(Exception):
    pass


def signed_data(info):
    """The SignedData inside a ContentInfo."""
    if info["content_type"].native != "signed_data":
        raise Unreadable("not a PKCS#7 SignedData")
    return info["content"]


def first_signer(signed):
    signers = signed["signer_infos"]
    if len(signers) == 0:
        raise Unreadable("no signer")
    return signers[0]


def write_signer_certificate(signed, path):
    """Writes the carried certificate whose issuer and serial number the first SignerInfo names, byte for
    byte as the signature holds them."""
    sid = first_signer(signed)["sid"]
    if sid.name != "issuer_and_serial_number":
        return
    wanted = sid.chosen["issuer"].dump() + sid.chosen["serial_number"].dump()
    for choice in signed["certificates"] or []:
        if choice.name != "certificate":
            continue
        tbs = choice.chosen["tbs_certificate"]
        if tbs["issuer"].dump() + tbs["serial_number"].dump() == wanted:
            with open(path, "wb") as f:
                f.write(choice.chosen.dump())
            return


def main():
    raw = open(sys.argv[1], "rb").read()
    out = sys.argv[2]
    # osslsigncode 2.5 writes the WIN_CERTIFICATE entry: dwLength, wRevision 0x0200, wCertificateType 2.
    if len(raw) > 8 and raw[4:8] == b"\x00\x02\x02\x00":
        raw = raw[8:]
    # Not strict: the entry is padded to eight bytes after the SignedData.
    info = cms.ContentInfo.load(raw, strict=False)
    with open(os.path.join(out, "signature.der"), "wb") as f:
        f.write(info.dump())

    signed = signed_data(info)
    write_signer_certificate(signed, os.path.join(out, "signer.der"))
    signer = first_signer(signed)
    with open(os.path.join(out, "signature-value.bin"), "wb") as f:
        f.write(signer["signature"].native)

    kind = "none"
    for attribute in signer["unsigned_attrs"] or []:
        name = attribute["type"].native
        if name == "counter_signature" and kind == "none":
            kind = "countersignature"
        if name != "microsoft_time_stamp_token":
            continue
        kind = "rfc3161"
        token = attribute["values"][0]
        with open(os.path.join(out, "token.der"), "wb") as f:
            f.write(token.dump())
        write_signer_certificate(signed_data(token), os.path.join(out, "tsa-signer.der"))
        break
    print("timestamp: " + kind)


if __name__ == "__main__":
    try:
        main()
    except (Unreadable, ValueError, TypeError, KeyError, IndexError) as error:
        sys.stderr.write("unreadable signature: %s\n" % error)
        sys.exit(1)
