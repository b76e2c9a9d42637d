// Injected at document start into every frame of a banner page. The SDK drives the carousel
// through the global `emblaApi` (plugins().autoplay.play / stop / isPlaying) as the banner is
// shown and hidden, so one instance per frame, on the frame's first `.embla__viewport`.
//
// Options:
// - loop: true — a banner rolls forever; the last slide leads back to the first.
// - Autoplay delay: 3000 ms per slide.
// - stopOnInteraction: false — a swipe or a focused link pauses autoplay only until it ends;
//   otherwise one touch would stop the carousel for good, since the SDK only calls play() when
//   the banner's visibility changes.
// - Everything else keeps the library's defaults (playOnInit: true, so it rolls as soon as it is
//   built; the plugin pauses itself while the document is hidden).
import EmblaCarousel from 'embla-carousel';
import Autoplay from 'embla-carousel-autoplay';

function start() {
  // A page that already built its own instance keeps it: two instances would fight over one viewport.
  if (window.emblaApi) return;
  var viewport = document.querySelector('.embla__viewport');
  // Embla takes the viewport's first child as the slide container and throws without one.
  if (!viewport || !viewport.firstElementChild) return;
  window.emblaApi = EmblaCarousel(viewport, { loop: true }, [
    Autoplay({ delay: 3000, stopOnInteraction: false }),
  ]);
}

if (document.readyState === 'loading') {
  document.addEventListener('DOMContentLoaded', start, { once: true });
} else {
  start();
}
