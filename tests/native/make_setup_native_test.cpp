// The native make_setup: signing through osslsigncode, and --verify over
// signed files and over the archive tests' corpus of damaged payloads.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "native_support.h"
#include "unsafe_name_rows.h"

using native_test::exists;
using native_test::fixture;
using native_test::make_setup;
using native_test::program_run;
using native_test::read_file;
using native_test::run;
using native_test::scratch_folder;
using native_test::write_file;

extern char** environ;

namespace {

constexpr char signer[] = "/CN=Velmora Release Test";

// A self-signed code-signing certificate with its key, and the same as a
// PKCS#12 file with a password, made once for the whole program.
struct signing_material {
    scratch_folder folder;
    std::string certificate = folder.file("cert.pem");
    std::string key = folder.file("key.pem");
    std::string pkcs12 = folder.file("signing.p12");
    std::string password = folder.file("password.txt");
};

class make_setup_signing : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        material = new signing_material;
        const program_run made =
            run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", material->key, "-out",
                 material->certificate, "-days", "30", "-subj", signer, "-addext", "extendedKeyUsage=codeSigning"});
        ASSERT_EQ(0, made.exit_code) << made.output;
        const program_run exported = run({"openssl", "pkcs12", "-export", "-in", material->certificate, "-inkey",
                                          material->key, "-out", material->pkcs12, "-passout", "pass:s3cret"});
        ASSERT_EQ(0, exported.exit_code) << exported.output;
        write_file(material->password, "s3cret\n");
    }

    static void TearDownTestSuite()
    {
        delete material;
        material = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(exists(VARNOX_PRODUCT_EXE)) << "build install.exe first (tools/build.sh)";
        write_file(work.file("client_x64.msi"), std::string(70000, 'm') + "package");
        write_file(work.file("notes.txt"), "release notes\n");
    }

    std::vector<std::string> bundle(const std::string& output) const
    {
        return {"--installer", VARNOX_PRODUCT_EXE, "--output", output, "--member", work.file("client_x64.msi"),
                "--member", work.file("notes.txt")};
    }

    std::vector<std::string> signed_bundle(const std::string& output) const
    {
        std::vector<std::string> arguments = bundle(output);
        arguments.insert(arguments.end(), {"--sign", material->certificate, "--key", material->key});
        return arguments;
    }

    static signing_material* material;
    scratch_folder work;
};

signing_material* make_setup_signing::material = nullptr;

std::uint32_t little_endian_32(const std::string& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

} // namespace

// A certificate with its key and a PKCS#12 file with a password file both
// sign: osslsigncode accepts the result, --verify reports the members and a
// valid signature by the signer, and the signed file is the unsigned one
// (but for the image's checksum and certificate table entry) followed by
// the certificate table, so the payload is untouched and covered.
TEST_F(make_setup_signing, signs_with_a_certificate_and_key_or_a_pkcs12_file)
{
    const std::string unsigned_setup = work.file("unsigned.exe");
    const program_run plain = make_setup(bundle(unsigned_setup));
    ASSERT_EQ(0, plain.exit_code) << plain.output;
    const struct {
        const char* scenario;
        std::vector<std::string> signing;
    } cases[] = {
        {"certificate and key", {"--sign", material->certificate, "--key", material->key}},
        {"PKCS#12 with a password file", {"--sign", material->pkcs12, "--password-file", material->password}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const std::string setup = work.file("setup.exe");
        std::vector<std::string> arguments = bundle(setup);
        arguments.insert(arguments.end(), c.signing.begin(), c.signing.end());
        const program_run made = make_setup(arguments);
        ASSERT_EQ(0, made.exit_code) << made.output;
        EXPECT_NE(std::string::npos, made.output.find("signed: certificate table of ")) << made.output;
        EXPECT_FALSE(exists(setup + ".unsigned"));

        const program_run checked = run({"osslsigncode", "verify", "-in", setup, "-CAfile", material->certificate});
        EXPECT_EQ(0, checked.exit_code) << checked.output;

        const program_run verified = make_setup({"--verify", setup, "--ca", material->certificate});
        EXPECT_EQ(0, verified.exit_code) << verified.output;
        for (const char* expected :
             {"signature: valid: it matches the file and its signer is trusted\n", "  signer: /CN=Velmora Release Test\n",
              "archive: opens in place, 2 members\n", "  client_x64.msi\n", "  notes.txt\n",
              "job: client installation\n", "Windows Vista / Server 2008 and later, 64-bit: client_x64.msi present\n",
              "good: 0 problems\n"})
            EXPECT_NE(std::string::npos, verified.output.find(expected)) << expected << "\n" << verified.output;

        const std::string before = read_file(unsigned_setup);
        const std::string after = read_file(setup);
        ASSERT_GT(after.size(), before.size());
        const std::uint32_t pe = little_endian_32(before, 0x3C);
        const std::size_t checksum = pe + 24 + 64;
        const std::size_t security_entry = pe + 24 + 96 + 4 * 8;  // the 32-bit image's fifth directory
        std::string masked_before = before, masked_after = after.substr(0, before.size());
        for (std::string* bytes : {&masked_before, &masked_after}) {
            bytes->replace(checksum, 4, 4, '\0');
            bytes->replace(security_entry, 8, 8, '\0');
        }
        EXPECT_TRUE(masked_before == masked_after) << "the signed file changed bytes before its certificate table";
        EXPECT_EQ(little_endian_32(after, security_entry), (before.size() + 7) / 8 * 8);
        EXPECT_EQ(after.size(), little_endian_32(after, security_entry) + little_endian_32(after, security_entry + 4));
    }
}

// A signature by a signer the check does not trust, a file changed after
// signing (in a member's data, or in the padding before the payload): each
// is reported and makes --verify fail.
TEST_F(make_setup_signing, verify_reports_an_untrusted_signer_and_a_changed_file)
{
    const std::string setup = work.file("setup.exe");
    const program_run made = make_setup(signed_bundle(setup));
    ASSERT_EQ(0, made.exit_code) << made.output;
    const std::string good = read_file(setup);
    // The package's data follow its local header, its name and its extra field.
    const std::size_t header = good.find(std::string("PK\3\4"), 0x100000);
    ASSERT_NE(std::string::npos, header);
    ASSERT_EQ("client_x64.msi", good.substr(header + 30, 14));
    const std::size_t member_data = header + 30 + 14 + static_cast<unsigned char>(good[header + 28]);

    const struct {
        const char* scenario;
        std::size_t changed_at;  // npos: unchanged
        bool trusted;
        std::vector<const char*> expected;
    } cases[] = {
        {"self-signed, no trust given", std::string::npos, false,
         {"signature: matches the file, but its signer is not trusted\n", "  why: self-signed certificate\n",
          "bad: 1 problem\n"}},
        {"member data changed", member_data + 10, true,
         {"signature: no longer matches the file: the file was changed after it was signed\n",
          "problem: the data of member client_x64.msi do not match its size and CRC-32 in the archive's "
          "directory\n",
          "bad: 2 problems\n"}},
        {"padding before the payload changed", 0x100000, true,
         {"signature: no longer matches the file: the file was changed after it was signed\n",
          "problem: the signature no longer matches the file", "bad: 1 problem\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::string bytes = good;
        if (c.changed_at != std::string::npos)
            bytes[c.changed_at] = static_cast<char>(bytes[c.changed_at] ^ 0x20);
        write_file(setup, bytes);
        std::vector<std::string> arguments = {"--verify", setup};
        if (c.trusted)
            arguments.insert(arguments.end(), {"--ca", material->certificate});
        const program_run verified = make_setup(arguments);
        EXPECT_EQ(1, verified.exit_code) << verified.output;
        for (const char* expected : c.expected)
            EXPECT_NE(std::string::npos, verified.output.find(expected)) << expected << "\n" << verified.output;
    }
}

// An installer that already carries a signature, or one that is no PE
// image, is refused for signing; so is a time-stamp server that does not
// answer. No output file is left, signed or not.
TEST_F(make_setup_signing, refuses_what_it_cannot_sign)
{
    const std::string signed_installer = work.file("signed_install.exe");
    const program_run presigned = run({"osslsigncode", "sign", "-h", "sha256", "-certs", material->certificate, "-key",
                                       material->key, "-in", VARNOX_PRODUCT_EXE, "-out", signed_installer});
    ASSERT_EQ(0, presigned.exit_code) << presigned.output;
    write_file(work.file("not_pe.exe"), "MZ" + std::string(5000, '\x90'));

    const std::string setup = work.file("setup.exe");
    const struct {
        const char* scenario;
        std::string installer;
        bool sign;
        std::vector<std::string> extra;
        const char* message;
    } cases[] = {
        {"signed installer", signed_installer, true, {},
         "make_setup: the installer already carries a signature, which would end up inside the payload region"},
        {"signed installer, unsigned setup", signed_installer, false, {},
         "make_setup: the installer already carries a signature"},
        {"no PE image", work.file("not_pe.exe"), true, {},
         "make_setup: the installer is not a Windows executable (PE) image: it cannot be signed"},
        {"time-stamp server that does not answer", VARNOX_PRODUCT_EXE, true, {"--timestamp", "http://127.0.0.1:9/"},
         "make_setup: signing failed: osslsigncode failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::vector<std::string> arguments = bundle(setup);
        arguments[1] = c.installer;
        if (c.sign)
            arguments.insert(arguments.end(), {"--sign", material->certificate, "--key", material->key});
        arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
        const program_run made = make_setup(arguments);
        EXPECT_EQ(1, made.exit_code) << made.output;
        EXPECT_NE(std::string::npos, made.output.find(c.message)) << made.output;
        EXPECT_FALSE(exists(setup));
        EXPECT_FALSE(exists(setup + ".unsigned"));
    }
}

namespace {

// The time-stamp authority of time_stamp_server.py with a certificate of its
// own, listening on the loopback interface for the rest of the scope.
class time_stamp_authority {
public:
    time_stamp_authority()
    {
        const program_run made = run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                      folder.file("tsa.key"), "-out", certificate(), "-days", "30", "-subj",
                                      "/CN=Velmora Test Time Stamps", "-addext",
                                      "extendedKeyUsage=critical,timeStamping"});
        EXPECT_EQ(0, made.exit_code) << made.output;
        write_file(folder.file("serial"), "01\n");
        write_file(folder.file("tsa.cnf"), "[ tsa ]\ndefault_tsa = authority\n[ authority ]\nserial = ./serial\n"
                                           "signer_cert = ./tsa.pem\nsigner_key = ./tsa.key\n"
                                           "signer_digest = sha256\ndefault_policy = 1.3.6.1.4.1.55555.1\n"
                                           "digests = sha1, sha256\naccuracy = secs:1\n");
        std::vector<char*> argv = {const_cast<char*>("python3"), const_cast<char*>(VARNOX_TIME_STAMP_SERVER),
                                   const_cast<char*>(folder.path().c_str()), nullptr};
        if (::posix_spawnp(&_server, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            _server = 0;
        for (int wait = 0; wait < 200 && !exists(folder.file("port")); ++wait)
            ::usleep(50000);
        url = "http://127.0.0.1:" + read_file(folder.file("port")) + "/";
    }
    ~time_stamp_authority()
    {
        write_file(folder.file("stop"), "");
        int status = 0;
        if (_server > 0)
            ::waitpid(_server, &status, 0);
    }
    time_stamp_authority(const time_stamp_authority&) = delete;
    time_stamp_authority& operator=(const time_stamp_authority&) = delete;

    std::string certificate() const { return folder.file("tsa.pem"); }

    scratch_folder folder;
    std::string url;

private:
    pid_t _server = 0;
};

} // namespace

// With --timestamp the signature carries a time stamp of the server: the
// tool verifies the server's countersignature, and --verify, trusting both
// certificates, finds the signature valid.
TEST_F(make_setup_signing, time_stamps_the_signature)
{
    const time_stamp_authority authority;
    ASSERT_NE("http://127.0.0.1:/", authority.url) << "the time-stamp server did not start";
    const std::string trusted = work.file("trusted.pem");
    write_file(trusted, read_file(material->certificate) + read_file(authority.certificate()));

    const std::string setup = work.file("setup.exe");
    std::vector<std::string> arguments = signed_bundle(setup);
    arguments.insert(arguments.end(), {"--timestamp", authority.url});
    const program_run made = make_setup(arguments);
    ASSERT_EQ(0, made.exit_code) << made.output;

    const program_run checked =
        run({"osslsigncode", "verify", "-in", setup, "-CAfile", trusted, "-TSA-CAfile", trusted});
    EXPECT_EQ(0, checked.exit_code) << checked.output;
    EXPECT_NE(std::string::npos, checked.output.find("Timestamp Server Signature verification: ok")) << checked.output;
    const program_run verified = make_setup({"--verify", setup, "--ca", trusted});
    EXPECT_EQ(0, verified.exit_code) << verified.output;
    EXPECT_NE(std::string::npos, verified.output.find("signature: valid: it matches the file and its signer is trusted\n"))
        << verified.output;
}

namespace {

// install.exe followed by bytes at the payload offset, the way make_setup
// lays a setup out, but without its checks.
std::string setup_of(const std::string& payload)
{
    const std::string image = read_file(VARNOX_PRODUCT_EXE);
    const std::size_t offset = (std::max<std::size_t>(image.size(), 0x100001) + 3) / 4 * 4;
    return image + std::string(offset - image.size(), '\0') + payload;
}

} // namespace

// Each payload of the archive tests' corpus that install.exe could not use
// is reported by --verify with a message that names the fault, and fails.
TEST(make_setup_verify, reports_each_damaged_payload_of_the_corpus)
{
    ASSERT_TRUE(exists(VARNOX_PRODUCT_EXE)) << "build install.exe first (tools/build.sh)";
    struct row {
        std::string scenario;
        std::string setup;
        std::string message;
    };
    std::vector<row> rows = {
        {"no payload", read_file(VARNOX_PRODUCT_EXE),
         "problem: install.exe finds no payload: no zip local header at a 4-byte-aligned offset beyond 1 MiB"},
        {"bad CRC, stored", setup_of(read_file(fixture("bad_crc_stored.zip"))),
         "problem: the data of member bad.txt do not match its size and CRC-32 in the archive's directory\n"},
        {"bad CRC, deflated", setup_of(read_file(fixture("bad_crc_deflated.zip"))),
         "problem: the data of member bad.txt do not match its size and CRC-32 in the archive's directory\n"},
        {"bad size, deflated", setup_of(read_file(fixture("bad_size_deflated.zip"))),
         "problem: the data of member bad.txt do not match its size and CRC-32 in the archive's directory\n"},
        {"cut short", setup_of(read_file(fixture("cut_short.zip"))),
         "install.exe's log: archive(312) - The archive has no end record: it is cut short or is no zip archive\n"},
        {"corrupt central directory", setup_of(read_file(fixture("corrupt_central_directory.zip"))),
         "install.exe's log: archive(310) - varnox/common/archive(406) : varnox::archive::unzip_base::unzip_base - "
         "Failed to initialize archive.\n"},
        {"more trailing data than the end record may have behind it",
         setup_of(read_file(fixture("python.zip")) + std::string(70000, '\x5a')),
         "install.exe's log: archive(311) - The archive's end record stands 70022 bytes before the end of the "
         "file, and at most 65557 may follow it: too much data (a signature, for instance) was appended after "
         "the archive\n"},
    };
    for (const unsafe_row& unsafe : unsafe_rows(VARNOX_ARCHIVE_FIXTURES)) {
        const bool escaped = unsafe.shown.find('\\') != std::string::npos;
        rows.push_back({"unsafe name " + unsafe.index + " " + unsafe.shown,
                        setup_of(read_file(fixture("unsafe_" + unsafe.index + ".zip"))),
                        "problem: member name would leave the setup program's target folder: " +
                            (escaped ? std::string() : unsafe.shown + "\n")});
    }
    ASSERT_GT(rows.size(), 30u);
    scratch_folder work;
    for (const row& r : rows) {
        SCOPED_TRACE(r.scenario);
        write_file(work.file("setup.exe"), r.setup);
        const program_run verified = make_setup({"--verify", work.file("setup.exe")});
        EXPECT_EQ(1, verified.exit_code) << verified.output;
        EXPECT_NE(std::string::npos, verified.output.find(r.message)) << verified.output;
        EXPECT_NE(std::string::npos, verified.output.find("\nbad: ")) << verified.output;
    }
}

// A payload followed by bytes that are not part of it, within the end
// record's reach, is still found and read; the report says what trails it.
TEST(make_setup_verify, reads_a_payload_followed_by_other_data)
{
    ASSERT_TRUE(exists(VARNOX_PRODUCT_EXE)) << "build install.exe first (tools/build.sh)";
    scratch_folder work;
    write_file(work.file("setup.exe"), setup_of(read_file(fixture("python.zip")) + std::string(60000, '\x5a')));
    const program_run verified = make_setup({"--verify", work.file("setup.exe")});
    EXPECT_EQ(0, verified.exit_code) << verified.output;
    for (const char* expected : {"note: 60000 bytes that are not part of the archive follow it\n",
                                 "job: driver package (dpinst.exe)\n", "signature: none\n", "good: 0 problems\n"})
        EXPECT_NE(std::string::npos, verified.output.find(expected)) << expected << "\n" << verified.output;
}

// Members of a few bytes (which miniz's writer would mark deflated without
// deflating them) are stored so that any reader extracts them: make_setup's
// own check passes and Python's zipfile reads every byte back.
TEST(make_setup, stores_members_of_a_few_bytes_readably)
{
    ASSERT_TRUE(exists(VARNOX_PRODUCT_EXE)) << "build install.exe first (tools/build.sh)";
    scratch_folder work;
    std::vector<std::string> arguments = {"--installer", VARNOX_PRODUCT_EXE, "--output", work.file("setup.exe")};
    for (const std::string content : {"", "a", "ab", "abc", "abcd"}) {
        const std::string name = "upgrade" + std::to_string(content.size()) + ".txt";
        write_file(work.file(name), content);
        arguments.insert(arguments.end(), {"--member", work.file(name)});
    }
    const program_run made = make_setup(arguments);
    ASSERT_EQ(0, made.exit_code) << made.output;
    const program_run read = run({"python3", "-c",
                                  "import io, sys, zipfile\n"
                                  "data = open(sys.argv[1], 'rb').read()\n"
                                  "offset = (max(int(sys.argv[2]), 0x100001) + 3) // 4 * 4\n"
                                  "z = zipfile.ZipFile(io.BytesIO(data[offset:]))\n"
                                  "print(' '.join('%s=%r' % (n, z.read(n)) for n in sorted(z.namelist())))\n",
                                  work.file("setup.exe"), std::to_string(read_file(VARNOX_PRODUCT_EXE).size())});
    EXPECT_EQ(0, read.exit_code) << read.output;
    EXPECT_EQ("upgrade0.txt=b'' upgrade1.txt=b'a' upgrade2.txt=b'ab' upgrade3.txt=b'abc' upgrade4.txt=b'abcd'\n",
              read.output);
}
