// A file dropped on the page must not replace the page with the file. Drops that the page
// handles itself (it cancels their events) are left alone.
(function () {
  function block(event) {
    if (event.defaultPrevented) return;
    event.preventDefault();
    if (event.dataTransfer) event.dataTransfer.dropEffect = 'none';
  }
  window.addEventListener('dragover', block);
  window.addEventListener('drop', block);
})();
