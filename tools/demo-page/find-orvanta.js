// Finds the orvanta object in any browser: an NPAPI browser that knows the plug-in's MIME
// type gets an <embed> whose "onload" parameter names the function the plug-in calls with
// its root object; in today's browsers the extension announces its object with the
// "orvanta-ready" event (or has already put it on window). `found(object, how)` runs once;
// `missing()` when neither answered within five seconds of the page's load.
function findOrvanta(found, missing) {
  var started = false;
  function start(o, how) {
    if (!started && o) {
      started = true;
      found(o, how);
    }
  }
  window.orvantaPluginLoaded = function (root) { start(root, 'the orvanta plug-in'); };
  document.addEventListener('orvanta-ready', function (event) {
    start(event.detail || window.orvanta, 'the orvanta extension');
  });
  var types = navigator.mimeTypes;
  if (types && types['application/x-orvanta']) {
    var embed = document.createElement('embed');
    embed.setAttribute('type', 'application/x-orvanta');
    embed.setAttribute('width', '1');
    embed.setAttribute('height', '1');
    embed.setAttribute('onload', 'orvantaPluginLoaded');
    // Kept out of sight: the plug-in draws nothing a person needs.
    embed.setAttribute('style', 'position: absolute; left: -1000px;');
    document.body.appendChild(embed);
  }
  window.addEventListener('load', function () {
    start(window.orvanta, 'the orvanta extension');
    setTimeout(function () {
      if (!started) {
        started = true;
        missing();
      }
    }, 5000);
  });
}
