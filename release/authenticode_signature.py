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
Standard library only: any python3 will do.
"""
import os
import sys

OID_SIGNED_DATA = bytes.fromhex("2a864886f70d010702")                  # 1.2.840.113549.1.7.2
OID_RFC3161_TIMESTAMP = bytes.fromhex("2b060104018237030301")           # 1.3.6.1.4.1.311.3.3.1
OID_COUNTERSIGNATURE = bytes.fromhex("2a864886f70d010906")             # 1.2.840.113549.1.9.6


class Unreadable(Exception):
    pass


def element(data, offset):
    """One DER element at offset: (tag, content start, end). Definite lengths only, as DER has."""
    if offset + 2 > len(data):
        raise Unreadable("truncated at offset %d" % offset)
    tag = data[offset]
    if tag & 0x1F == 0x1F:
        raise Unreadable("multi-byte tag at offset %d" % offset)
    length = data[offset + 1]
    start = offset + 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 4 or start + count > len(data):
            raise Unreadable("bad length at offset %d" % offset)
        length = int.from_bytes(data[start:start + count], "big")
        start += count
    end = start + length
    if end > len(data):
        raise Unreadable("element at offset %d runs past the end" % offset)
    return tag, start, end


def children(data, start, end):
    """The elements inside a constructed element's content: a list of (tag, start, content start, end)."""
    found = []
    offset = start
    while offset < end:
        tag, content, stop = element(data, offset)
        found.append((tag, offset, content, stop))
        offset = stop
    if offset != end:
        raise Unreadable("elements overrun their container at offset %d" % start)
    return found


def signed_data(data, offset=0):
    """The SignedData's fields, from a ContentInfo at offset: a list as children() gives."""
    tag, content, end = element(data, offset)
    info = children(data, content, end)
    if tag != 0x30 or len(info) < 2 or data[info[0][2]:info[0][3]] != OID_SIGNED_DATA or info[1][0] != 0xA0:
        raise Unreadable("not a PKCS#7 SignedData")
    inner = children(data, info[1][2], info[1][3])
    if len(inner) != 1 or inner[0][0] != 0x30:
        raise Unreadable("not a PKCS#7 SignedData")
    return children(data, inner[0][2], inner[0][3])


def first_signer(data, fields):
    """The fields of the first SignerInfo (the last field of a SignedData is the set of them)."""
    if fields[-1][0] != 0x31:
        raise Unreadable("no signer")
    signers = children(data, fields[-1][2], fields[-1][3])
    if not signers or signers[0][0] != 0x30:
        raise Unreadable("no signer")
    return children(data, signers[0][2], signers[0][3])


def write_signer_certificate(data, fields, path):
    """Writes the carried certificate whose issuer and serial number the first SignerInfo names."""
    issuer_and_serial = first_signer(data, fields)[1]
    wanted = data[issuer_and_serial[2]:issuer_and_serial[3]]
    for field in fields:
        if field[0] != 0xA0:  # [0] certificates
            continue
        for certificate in children(data, field[2], field[3]):
            tbs = children(data, certificate[2], certificate[3])[0]
            tbs_fields = children(data, tbs[2], tbs[3])
            if tbs_fields[0][0] == 0xA0:  # [0] version, before the serial number
                tbs_fields = tbs_fields[1:]
            serial, _, issuer = tbs_fields[:3]
            if data[issuer[1]:issuer[3]] + data[serial[1]:serial[3]] == wanted:
                with open(path, "wb") as f:
                    f.write(data[certificate[1]:certificate[3]])
                return


def main():
    raw = open(sys.argv[1], "rb").read()
    out = sys.argv[2]
    # osslsigncode 2.5 writes the WIN_CERTIFICATE entry: dwLength, wRevision 0x0200, wCertificateType 2.
    if len(raw) > 8 and raw[4:8] == b"\x00\x02\x02\x00":
        raw = raw[8:]
    _, _, end = element(raw, 0)
    data = raw[:end]  # without the padding to eight bytes
    with open(os.path.join(out, "signature.der"), "wb") as f:
        f.write(data)

    fields = signed_data(data)
    write_signer_certificate(data, fields, os.path.join(out, "signer.der"))
    signer = first_signer(data, fields)
    # version, issuerAndSerialNumber, digestAlgorithm, [0] signed attributes, signature algorithm,
    # signature value, [1] unsigned attributes.
    values = [s for s in signer if s[0] == 0x04]
    if not values:
        raise Unreadable("the signer has no signature value")
    with open(os.path.join(out, "signature-value.bin"), "wb") as f:
        f.write(data[values[0][2]:values[0][3]])

    kind = "none"
    unsigned = [s for s in signer if s[0] == 0xA1]
    for attribute in children(data, unsigned[0][2], unsigned[0][3]) if unsigned else []:
        oid, attribute_values = children(data, attribute[2], attribute[3])[:2]
        oid_bytes = data[oid[2]:oid[3]]
        if oid_bytes == OID_COUNTERSIGNATURE and kind == "none":
            kind = "countersignature"
        if oid_bytes != OID_RFC3161_TIMESTAMP:
            continue
        kind = "rfc3161"
        token = children(data, attribute_values[2], attribute_values[3])[0]
        token_der = data[token[1]:token[3]]
        with open(os.path.join(out, "token.der"), "wb") as f:
            f.write(token_der)
        token_fields = signed_data(token_der)
        write_signer_certificate(token_der, token_fields, os.path.join(out, "tsa-signer.der"))
        break
    print("timestamp: " + kind)


if __name__ == "__main__":
    try:
        main()
    except (Unreadable, ValueError, IndexError) as error:
        sys.stderr.write("unreadable signature: %s\n" % error)
        sys.exit(1)
