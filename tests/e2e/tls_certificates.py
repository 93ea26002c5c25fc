"""A certificate authority made for one test run and a server certificate for 127.0.0.1 signed by
it, with the openssl command line tool. The program trusts the authority through QXWEB_CA_FILE."""

import os
import subprocess

SERVER_EXTENSIONS = """basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:127.0.0.1, DNS:localhost
"""
# The address also as a DNS name: libcurl 7.88 over Schannel matches DNS names only, OpenSSL the
# IP address.


class TestCertificates:
    """ca (PEM), server_cert (PEM) and server_key (PEM) in folder."""

    def __init__(self, folder):
        os.makedirs(folder, exist_ok=True)
        self.ca = os.path.join(folder, "ca.pem")
        self.server_cert = os.path.join(folder, "server.pem")
        self.server_key = os.path.join(folder, "server.key")
        ca_key = os.path.join(folder, "ca.key")
        request = os.path.join(folder, "server.csr")
        extensions = os.path.join(folder, "server.ext")
        with open(extensions, "w") as f:
            f.write(SERVER_EXTENSIONS)
        self._openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key,
                      "-out", self.ca, "-days", "2", "-subj", "/CN=QxWebHelper test CA",
                      "-addext", "basicConstraints=critical,CA:TRUE",
                      "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        self._openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", self.server_key,
                      "-out", request, "-subj", "/CN=127.0.0.1")
        self._openssl("x509", "-req", "-in", request, "-CA", self.ca, "-CAkey", ca_key,
                      "-CAcreateserial", "-out", self.server_cert, "-days", "2",
                      "-extfile", extensions)

    @staticmethod
    def _openssl(*args):
        subprocess.run(["openssl"] + list(args), check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
