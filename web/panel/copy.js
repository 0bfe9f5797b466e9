// Copies a text to the clipboard, and says so on the button for a moment.
export function copy(text, button) {
  const done = () => {
    button.dataset.label = button.dataset.label || button.textContent;
    button.textContent = 'Copiado';
    setTimeout(() => (button.textContent = button.dataset.label), 1500);
  };
  // Without the clipboard API (a page served over plain HTTP from another machine), or refused it, the
  // old way: a selected text area and the copy command.
  const fallback = () => {
    const area = document.createElement('textarea');
    area.value = text;
    document.body.appendChild(area);
    area.select();
    if (document.execCommand('copy')) {
      done();
    }
    area.remove();
  };
  if (navigator.clipboard) {
    navigator.clipboard.writeText(text).then(done, fallback);
  } else {
    fallback();
  }
}
