-- The chapters link to each other as Markdown files ("config.md#taxes"), so
-- that they read well where they are; the built pages link to the HTML files.
-- Every heading also gets an anchor of the old kind (<a name>) besides its id,
-- which the program's help window scrolls to. Pictures get a width.
function Link(el)
  el.target = el.target:gsub("^([%w%-]+)%.md$", "%1.html"):gsub("^([%w%-]+)%.md#", "%1.html#")
  return el
end

-- Pictures of the window are shown at most this wide (the help window shows
-- an image at its width attribute; a browser also keeps it within the page).
local PICTURE_WIDTH = 720

function Image(el)
  if el.attributes.width == nil then
    el.attributes.width = tostring(PICTURE_WIDTH)
  end
  return el
end

-- A picture on a line of its own becomes a paragraph of its own with its
-- caption below (the help window knows no <figure>).
function Para(el)
  if #el.content == 1 and el.content[1].t == "Image" then
    local img = Image(el.content[1])
    local caption = pandoc.utils.stringify(img.caption)
    return {
      pandoc.RawBlock("html", '<p class="picture"><img src="' .. img.src .. '" width="' ..
        img.attributes.width .. '" alt="' .. caption:gsub('"', "&quot;") .. '" /></p>'),
      pandoc.Para({pandoc.Emph(img.caption)}),
    }
  end
  return el
end

function Header(el)
  if el.identifier ~= "" then
    return {pandoc.RawBlock("html", '<a name="' .. el.identifier .. '"></a>'), el}
  end
  return el
end
