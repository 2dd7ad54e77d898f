#!/usr/bin/env bash
# A small public-key infrastructure for code-signature tests, made with the openssl command.
#
#   make_pki.sh DIR
#       root            trusted root (put root.pem in SSL_CERT_FILE), 2015..2045
#       intermediate    CA under root, path length 0
#       tsa             time-stamp authority under root (extendedKeyUsage critical timeStamping),
#                       tsa.cnf configures `openssl ts -reply` for it
#       other-root      a root nobody trusts, with other-tsa (other-tsa.cnf) under it
#
#   make_pki.sh DIR signer NAME SERIAL ISSUER NOT_BEFORE NOT_AFTER [USAGE [KEY [KEY_USAGE]]]
#       NAME.key, NAME.pem: a signer certificate with the serial number SERIAL (hexadecimal,
#       as encoded), issued by ISSUER (root, intermediate or other-root) and valid from
#       NOT_BEFORE to NOT_AFTER (YYYYMMDDHHMMSSZ). USAGE is the extendedKeyUsage
#       (codeSigning unless given); KEY is ec (default) or rsa; KEY_USAGE is the keyUsage
#       ("critical, digitalSignature" unless given; "none" leaves the extension out).
#
# Validity periods are set explicitly (openssl ca -startdate/-enddate), so certificates that
# expired long ago need no clock tricks.
set -euo pipefail

dir=$1
shift
mkdir -p "$dir/ca"
cd "$dir"

new_key() { # NAME KEY
    if [[ ${2:-ec} == rsa ]]; then
        openssl genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.key"
    else
        openssl genpkey -quiet -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key"
    fi
    openssl req -new -key "$1.key" -subj "/CN=Plexmill Test $1/O=Plexmill Tests" -out "$1.csr"
}

# issue NAME ISSUER SERIAL NOT_BEFORE NOT_AFTER EXTENSIONS [EXTENDED_KEY_USAGE [KEY_USAGE]]
issue() {
    local name=$1 issuer=$2 serial=$3 start=$4 end=$5 extensions=$6
    local key_usage=${8:-critical, digitalSignature}
    if [[ $key_usage == none ]]; then
        extensions=${extensions}_without_key_usage
    fi
    # A database per certificate: openssl ca refuses a serial number it issued before, and
    # tests give certificates that differ in other ways the same (allowed) serial number.
    local database="ca/$issuer/$name"
    mkdir -p "$database"
    touch "$database/index.txt"
    echo "$serial" >"$database/serial"
    local signing=(-cert "$issuer.pem" -keyfile "$issuer.key")
    if [[ $name == "$issuer" ]]; then
        signing=(-selfsign -keyfile "$name.key")
    fi
    CA_DIR=$database EXTENDED_KEY_USAGE=${7:-codeSigning} KEY_USAGE=$key_usage \
        openssl ca -config ca.cnf -batch \
        -notext -in "$name.csr" -out "$name.pem" "${signing[@]}" -startdate "$start" \
        -enddate "$end" -extensions "$extensions" 2>"ca/$name.log" ||
        { cat "ca/$name.log" >&2; exit 1; }
}

tsa_config() { # NAME ROOT
    cat >"$1.cnf" <<EOF
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = $PWD/$1.serial
crypto_device = builtin
signer_cert = $PWD/$1.pem
signer_key = $PWD/$1.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
other_policies = 1.3.6.1.4.1.55555.2
certs = $PWD/$2.pem
EOF
    echo 01 >"$1.serial"
}

if [[ ${1:-} == signer ]]; then
    name=$2 serial=$3 issuer=$4 start=$5 end=$6
    new_key "$name" "${8:-ec}"
    issue "$name" "$issuer" "$serial" "$start" "$end" signer_ext "${7:-codeSigning}" "${9:-}"
    exit 0
fi

cat >ca.cnf <<'EOF'
[ ca ]
default_ca = this_ca
[ this_ca ]
database = $ENV::CA_DIR/index.txt
serial = $ENV::CA_DIR/serial
new_certs_dir = $ENV::CA_DIR
default_md = sha256
policy = any_name
unique_subject = no
email_in_dn = no
copy_extensions = none
[ any_name ]
commonName = supplied
organizationName = optional
[ root_ext ]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ intermediate_ext ]
basicConstraints = critical, CA:true, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ tsa_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ signer_ext ]
basicConstraints = critical, CA:false
keyUsage = $ENV::KEY_USAGE
extendedKeyUsage = $ENV::EXTENDED_KEY_USAGE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ signer_ext_without_key_usage ]
basicConstraints = critical, CA:false
extendedKeyUsage = $ENV::EXTENDED_KEY_USAGE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

for root in root other-root; do
    new_key "$root"
    issue "$root" "$root" 01 20150101000000Z 20450101000000Z root_ext
done
new_key intermediate
issue intermediate root 02 20150101000000Z 20450101000000Z intermediate_ext
new_key tsa
issue tsa root 03 20150101000000Z 20450101000000Z tsa_ext
new_key other-tsa
issue other-tsa other-root 02 20150101000000Z 20450101000000Z tsa_ext
tsa_config tsa root
tsa_config other-tsa other-root
