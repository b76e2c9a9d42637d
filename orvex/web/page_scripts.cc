#include "orvex/web/page_scripts.h"

namespace orvex::page_scripts {

const std::string& videoSourceProbe() {
  static const std::string script =
      "function videoSrc() {\n"
      "    const videoElement = document.querySelector('video') // 첫 번째 video 태그를 선택\n"
      "    if (videoElement) {\n"
      "        const sourceElement = videoElement.querySelector('source') // video 태그 내의 첫 "
      "번째 source 태그를 선택\n"
      "        if (sourceElement) {\n"
      "            return sourceElement.src; // source 태그의 src 속성 반환\n"
      "        }\n"
      "    }\n"
      "    return null; // video 또는 source 태그가 없는 경우 null 반환\n"
      "}";
  return script;
}

const std::string& loadCompleteCheck() {
  static const std::string script =
      "function isLoadComplete() {\n"
      "    var images = document.querySelectorAll('img');\n"
      "    for (var i = 0; i < images.length; i++) {\n"
      "        var image = images[i];\n"
      "        if (image.getAttribute('loading') === 'lazy') continue;\n"
      "        if (!image.complete || image.naturalWidth === 0) return false;\n"
      "    }\n"
      "    return true;\n"
      "}";
  return script;
}

const std::string& contentSizeMeasurement() {
  static const std::string script =
      "({width: document.documentElement.scrollWidth, height: "
      "document.documentElement.scrollHeight})";
  return script;
}

}  // namespace orvex::page_scripts
