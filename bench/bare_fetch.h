// The per-tile work of a download done straight on libcurl and libjpeg-turbo,
// with nothing of the program's own layers: the yardstick the benchmarks
// measure the program against.
#pragma once
#include <curl/curl.h>
#include <fcntl.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <string>
#include <vector>

class BareFetcher {
  public:
    BareFetcher() : Decoder(tjInitDecompress()), Rgb(256 * 256 * 3) {}
    ~BareFetcher() { tjDestroy(Decoder); }
    BareFetcher(const BareFetcher&) = delete;
    BareFetcher& operator=(const BareFetcher&) = delete;

    // GET on a new connection, end-marker check, decode, atomic write.
    bool Fetch(const std::string& url, const std::string& path) {
        std::string body;
        CURL* h = curl_easy_init();
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_PROXY, "");
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Append);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
        const CURLcode rc = curl_easy_perform(h);
        long code = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
        curl_easy_cleanup(h);
        int width = 0, height = 0, sub = 0, space = 0;
        const auto* data = reinterpret_cast<const unsigned char*>(body.data());
        return rc == CURLE_OK && code == 200 && body.size() > 4 &&
               static_cast<unsigned char>(body[body.size() - 2]) == 0xFF &&
               static_cast<unsigned char>(body[body.size() - 1]) == 0xD9 &&
               tjDecompressHeader3(Decoder, data, body.size(), &width, &height, &sub, &space) ==
                   0 &&
               width * height * 3 <= static_cast<int>(Rgb.size()) &&
               tjDecompress2(Decoder, data, body.size(), Rgb.data(), width, 0, height, TJPF_RGB,
                             0) == 0 &&
               WriteAtomic(path, body);
    }

  private:
    static size_t Append(char* data, size_t size, size_t count, void* user) {
        static_cast<std::string*>(user)->append(data, size * count);
        return size * count;
    }
    static bool WriteAtomic(const std::string& path, const std::string& bytes) {
        const std::string tmp = path + ".tmp";
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        const bool ok =
            ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        return ::close(fd) == 0 && ok && ::rename(tmp.c_str(), path.c_str()) == 0;
    }

    tjhandle Decoder;
    std::vector<unsigned char> Rgb;
};
